// Marvin32, which hashes the entries of a hive's transaction logs.
#include "stores/Marvin32.h"

#include <gtest/gtest.h>

#include <string_view>

TEST(HiveLog, Marvin32GivesMicrosoftsPublishedHashes) {
    const struct {
        std::string_view bytes;
        std::uint64_t hash;
    } vectors[] = {{"", 0x30ED35C100CD3C7D},
                   {"\xAF", 0x48E73FC77D75DDC1},
                   {"\xE7\x0F", 0xB5F6E1FC485DBFF8},
                   {"\x37\xF4\x95", 0xF0B07C789B8CF7E8},
                   {"\x86\x42\xDC\x59", 0x7008F2E87E9CF556}};
    for (const auto& vector : vectors) {
        EXPECT_EQ(stores::Marvin32Hash(vector.bytes, 0x004FB61A001BDBCC), vector.hash)
            << vector.bytes.size();
    }
    // Fed in pieces, the same hash as whole.
    stores::Marvin32 pieces(0x004FB61A001BDBCC);
    pieces.Add("\x86");
    pieces.Add("\x42\xDC");
    pieces.Add("\x59");
    EXPECT_EQ(pieces.Finish(), 0x7008F2E87E9CF556u);
}
