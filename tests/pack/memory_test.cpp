// CPack::CheckBytes and CPack::DecodeBytes: a container held in memory gives
// the result codes and the bytes that the same container gives as a file.
#include <gtest/gtest.h>

#include <string>

#include "pack/pack.h"
#include "pack/packer.h"
#include "pack_test_util.h"

using namespace packtest;

namespace {

TEST(MemoryContainers, AnswerAsTheSameFileWould) {
    const Bytes text = TextBytes(9000, 7);
    const Bytes packed = Packer().BuildContainer(text.data(), text.size(), 1, 2);
    Bytes damaged = packed;
    damaged[40] ^= 0x10;
    const Bytes cases[] = {packed,
                           damaged,
                           Bytes(packed.begin(), packed.begin() + 19),
                           Bytes(packed.begin(), packed.end() - 9),
                           Container(0, 102, 0, 0, 0, {}),
                           Container(0, 101, 5, 0, 0, {}),
                           {}};
    TempDir dir;
    CPack* pack = CPack::Get();
    for (const Bytes& container : cases) {
        WriteFile(dir.File("c.pack"), container);
        const std::string bytes(container.begin(), container.end());
        const std::string what = std::to_string(container.size()) + " bytes";
        EXPECT_EQ(pack->CheckBytes(bytes), pack->CheckFile(dir.File("c.pack").c_str())) << what;
        const bool fromFile = pack->DecodeFile(dir.File("c.pack").c_str(), dir.File("out").c_str());
        std::string decoded = "left over";
        EXPECT_EQ(pack->DecodeBytes(bytes, decoded), fromFile) << what;
        const Bytes written = ReadFile(dir.File("out"));
        EXPECT_EQ(decoded, std::string(written.begin(), written.end())) << what;
    }
    std::string decoded;
    ASSERT_TRUE(pack->DecodeBytes(std::string(packed.begin(), packed.end()), decoded));
    EXPECT_EQ(decoded, std::string(text.begin(), text.end()));
}

}  // namespace
