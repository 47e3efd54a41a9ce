// SCAN on "PS/2": the device types its identity as key strokes through the simulated 8042,
// which translates them to set 1; the program turns them back into the model and revision.
#include "ps2/ps2_identify.h"

#include "ps2_fixture.h"

namespace rompush::testing {
namespace {

struct IdentityCase {
    const char* name;
    std::vector<std::uint8_t> typed;  // set-2 bytes as the device sends them
    const char* letter;
    const char* idName;
    const char* revision;
    std::uint8_t portCount;
    int errorCode;  // 0: "TARN Product Found"
};

std::vector<std::uint8_t> Join(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class IdentifyTest : public Ps2Test, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(IdentifyTest, ScanDecodesTheTypedIdentity) {
    const IdentityCase& c = GetParam();
    Start(KvmModel::OrbitTiny).SetIdentityCodes(c.typed);
    g.dev.DevLetter = "Q";  // what an earlier scan left; an unknown model keeps it
    g.ps2.PortCount = 9;
    Press(frmUI().btnSCAN);

    auto& f = frmUI();
    EXPECT_EQ(g.dev.DevLetter, c.letter);
    EXPECT_EQ(g.dev.DevIdName, c.idName);
    EXPECT_EQ(g.dev.DevDisplayName, c.idName);
    EXPECT_EQ(f.StatusBar1.Panels[1].Text, c.idName);
    EXPECT_EQ(g.dev.DevRev, c.revision);
    EXPECT_EQ(f.StatusBar1.Panels[2].Text, c.revision);
    EXPECT_EQ(g.ps2.PortCount, c.portCount);
    if (c.errorCode == 0) {
        EXPECT_EQ(f.lblPASS.Caption, "TARN Product Found");
        EXPECT_EQ(f.StatusBar1.Panels[4].Text, "PS/2");
    } else if (c.errorCode == 1) {
        EXPECT_EQ(f.lblPASS.Caption, "TARN Product Not Found");
        EXPECT_EQ(f.lblPASS.BackColor, ui::colour::kLightYellow);
        EXPECT_FALSE(g.dev.DeviceFound);
        EXPECT_FALSE(f.btnPROGRAM.Enabled);
    } else {
        // A non-flashable device is said on the SCAN row; PROGRAM stays disabled.
        EXPECT_EQ(f.lblPASS.Caption, "ERROR CODE: 6001");
        EXPECT_EQ(f.lblSCAN.Caption, ui::ErrorText(6001));
        EXPECT_FALSE(f.btnPROGRAM.Enabled);
    }
    EXPECT_TRUE(f.btnSCAN.Enabled);
    ExpectGivenBack();
}

INSTANTIATE_TEST_SUITE_P(
    Answers, IdentifyTest,
    ::testing::Values(
        IdentityCase{"OrbitTinyShort", Keystrokes("t12n "), "T", "Orbit Tiny", "Rev t1.2n", 2, 0},
        IdentityCase{"LongRevisionHasNoRevPrefix", Keystrokes("t1203 "), "T", "Orbit Tiny",
                     "t1.203", 2, 0},
        IdentityCase{"MonolinkEmptyAfterPoint", Keystrokes("k1 "), "K", "Monolink", "Rev k1.", 9,
                     0},
        IdentityCase{"OrbitMini", Keystrokes("v13n "), "V", "Orbit Mini", "Rev v1.3n", 4, 0},
        IdentityCase{"LetterBeforeNIsNonFlashable", Keystrokes("t1an "), "T", "Orbit Tiny",
                     "Rev t1.an", 2, 6001},
        IdentityCase{"UnknownModelKeepsLetter", Keystrokes("x12 "), "Q", "", "Rev x1.2", 9, 0},
        // Releases and a shift key between the characters are not part of the answer.
        IdentityCase{"ForeignCodesBetweenKeys",
                     Join(Join(Keystrokes("t^"), {0xF0, 0x12, 0xE0, 0xF0, 0x75}),
                          Join(Keystrokes("1^2"), Keystrokes("^n "))),
                     "T", "Orbit Tiny", "Rev t1.2n", 2, 0},
        IdentityCase{"PrismaNoTrailingN", Keystrokes("b11 "), "B", "Prisma", "Rev b1.1", 9, 0},
        IdentityCase{"OnlyKeyReleases", {0xF0, 0x2C, 0xF0, 0x16}, "Q", "", "", 9, 1},
        IdentityCase{"OnlyKeysOutsideTheTable", Keystrokes("^^ "), "Q", "", "", 9, 1}),
    CaseName{});

}  // namespace
}  // namespace rompush::testing
