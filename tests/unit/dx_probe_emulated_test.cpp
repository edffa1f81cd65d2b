// The probe on the emulated platform, which has no DirectX: through the export,
// before and after KOVICCreate, with its one line in the debug output.
#include "support/emulated_fixture.h"

namespace {

class DxProbeEmulatedTest : public kovic_test::EmulatedTest {};

TEST_F(DxProbeEmulatedTest, NoDirectDrawGivesNoneWithItsOneLine) {
    const int com_depth = emu::ComInitDepth();
    for (int call = 0; call < 2; ++call) {
        emu::ClearDebugOutput();
        EXPECT_EQ(MirelGetDXVersion(), 0u);
        EXPECT_EQ(emu::DebugOutput(), "Couldn't LoadLibrary DDraw\r\n");
    }
    EXPECT_EQ(emu::CallCount(emu::Call::CoInitialize), 0) << "nothing past the first test";
    EXPECT_EQ(emu::CallCount(emu::Call::CoCreateInstance), 0);
    EXPECT_EQ(emu::ComInitDepth(), com_depth);

    ASSERT_EQ(KOVICCreate(), 1);
    emu::ClearDebugOutput();
    EXPECT_EQ(MirelGetDXVersion(), 0u) << "the same after KOVICCreate";
    EXPECT_EQ(emu::DebugOutput(), "Couldn't LoadLibrary DDraw\r\n");
}

}  // namespace
