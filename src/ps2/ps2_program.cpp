#include "ps2/ps2_program.h"

#include <cstdint>
#include <string>
#include <vector>

#include "core/crc.h"
#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "core/wait.h"
#include "hexfile/hex_validation.h"
#include "platform/platform.h"
#include "ps2/device_config.h"
#include "ps2/kb_controller.h"
#include "ps2/ps2_identify.h"
#include "ui/main_window.h"
#include "ui/notices.h"

namespace rompush {

namespace {

constexpr std::uint8_t StartProgramming = 0xCC;
constexpr std::uint8_t EraseFlash = 0x0B;
constexpr std::uint8_t WriteRecord = 0x0E;
constexpr std::uint8_t VerifyCrc = 0x62;

constexpr int kEraseStepMs = 30;  // the device erases one block in 30 ms
constexpr std::int16_t kVerifyPauseMs = 300;
constexpr std::int16_t kVerdictPauseMs = 5000;
// The device may be busy writing the last record when 0x0E comes; after this many
// unacknowledged tries (each at least kAckWait) it has stopped answering.
constexpr int kWriteRecordTries = 40;
// Single acknowledgements of data bytes may go missing (the CRC check at the end catches a
// byte that did not arrive); this many in a row mean the device has stopped.
constexpr int kMissingAcksInARow = 8;

struct ModelPlan {
    std::uint8_t commandByte;
    std::uint8_t erase[3];  // start address high, low, erase count
    long base;              // added to every record's address
    bool keepsConfiguration;
};

ModelPlan PlanFor(const std::string& letter) {
    const long base = KeyboardPortLoadBase(letter);
    if (letter == "K")
        return {0x60, {0x40, 0x00, 0x80}, base, false};
    return {0x20, {0x20, 0x00, 0x40}, base, true};
}

struct Record {
    long loadAddress;
    std::vector<std::uint8_t> data;
};

void Fail(std::int16_t code) {
    g.result.ErrorCode = code;
    TraceLine("-- ErrorCode = " + std::to_string(code));
}

// The records to send: the data records of the file just checked, each at its address plus
// the model's base. The check has refused, before the device is touched, a file without data,
// with data beyond the flash or with records no data record can stand for; address records
// that keep the upper address at 0 and start-address records are not sent, and the transfer
// ends at the end record only. A copy: nothing that runs during the transfer's waits can
// change what is sent.
std::vector<Record> RecordsToSend(long base) {
    std::vector<Record> records;
    for (const HexDataRecord& record : g.hex.DataRecords)
        records.push_back({record.address + base, record.bytes});
    return records;
}

// Sends one byte whose acknowledgement is not tested; counts acknowledgements missing in a
// row. False once the device has stopped answering or the controller is unusable.
bool SendUntested(std::uint8_t byte, int& missingInARow) {
    missingInARow = wr_kb_cmd(byte) == kKbAck ? 0 : missingInARow + 1;
    return missingInARow < kMissingAcksInARow && !ControllerUnusable();
}

// Sends every record; the CRC covers every data byte sent. False with ErrorCode 8002 when
// the device stops acknowledging.
bool SendRecords(const std::vector<Record>& records, std::int32_t& crc) {
    auto& bar = frmUI().ProgressBar1;
    int missing = 0;
    int sent = 0;
    for (const Record& record : records) {
        int tries = 0;
        while (wr_kb_cmd(WriteRecord) != kKbAck) {
            if (++tries >= kWriteRecordTries || ControllerUnusable()) {
                Fail(8002);
                return false;
            }
        }
        const std::vector<std::uint8_t>& data = record.data;
        bool going = SendUntested(static_cast<std::uint8_t>(record.loadAddress >> 8), missing) &&
                     SendUntested(static_cast<std::uint8_t>(record.loadAddress & 0xFF), missing) &&
                     SendUntested(static_cast<std::uint8_t>(data.size()), missing);
        for (std::size_t k = 0; going && k < data.size(); ++k) {
            CrcUpdate(crc, data[k]);
            going = SendUntested(data[k], missing);
        }
        if (!going) {
            Fail(8002);
            return false;
        }
        bar.Value = ++sent;
    }
    return true;
}

// The device compares the CRC with what it received. Its verdict is read only once it is
// waiting: a device that stops before answering leaves nothing to read (the last
// acknowledgement still stands in the data port) and fails.
void CheckCrc(std::int32_t crc, long lastLoadAddress) {
    ui::ShowMsg("Verifying CRC...", ui::colour::kButtonFace);
    wr_kb_cmd(VerifyCrc);
    Delay(kVerifyPauseMs);
    wr_kb_cmd(static_cast<std::uint32_t>(crc >> 8) & 0xFF);
    Delay(kVerifyPauseMs);
    wr_kb_cmd(static_cast<std::uint32_t>(crc) & 0xFF);
    Delay(kVerifyPauseMs);
    wr_kb_cmd(static_cast<std::uint32_t>(lastLoadAddress >> 8) & 0xFF);
    Delay(kVerifyPauseMs);
    std::uint8_t verdict = 0;
    const bool answered = ReadKbByte(verdict);
    TraceLine("--    CRC verdict = " + (answered ? "&H" + Hex(verdict) : "none"));
    if (!answered || verdict != kKbAck)
        Fail(8001);
    Delay(kVerdictPauseMs);
}

// A Monolink's programming ends with the pointer moved off the PROGRAM button, so that the
// device's restart does not find it there.
void MovePointerOffProgramButton() {
    auto& desktop = *platform::Current().desktop;
    int x = 0, y = 0;
    if (desktop.CursorClient("btnPROGRAM", x, y) && x > 0 && x < 175 && y > 0 && y < 30)
        desktop.SetCursorClient("btnPROGRAM", 185, 15);
}

void ShowLockOutWarning() {
    auto& f = frmUI();
    f.ProgressBar1.Visible = true;
    f.lblPROGRAM.Height = 435;
    f.lblPROGRAM.Caption = "Keyboard and Mouse will be locked out during programming.";
    f.lblPROGRAM.BackColor = ui::colour::kLightYellow;
    f.lblPROGRAM.ForeColor = ui::colour::kBlack;
}

void DisableCommandButtons() {
    auto& f = frmUI();
    for (ui::CommandButton* button :
         {&f.btnSCAN, &f.btnHEXFILE, &f.btnLASTUSED, &f.btnERASE, &f.btnVERIFY, &f.btnPROGRAM}) {
        button->Enabled = false;
    }
}

// From the controller taken to the CRC verdict; ErrorCode says how far it came.
void EraseAndProgram(const ModelPlan& plan, const std::vector<Record>& records) {
    if (plan.keepsConfiguration && !ReadConfigRecord(g.ps2.ConfigBuffer)) {
        // Without the configuration nothing is erased: it would be lost with the update.
        Fail(ControllerUnusable() ? 8002 : 5001);
        return;
    }
    if (wr_kb_cmd(StartProgramming) != kKbAck) {
        Fail(8002);
        return;
    }
    auto& f = frmUI();
    f.ProgressBar1.Visible = true;
    DisableCommandButtons();

    ui::ShowMsg("Erasing memory...", ui::colour::kButtonFace);
    wr_kb_cmd(EraseFlash);
    for (std::uint8_t byte : plan.erase)
        wr_kb_cmd(byte);
    Delay(static_cast<std::int16_t>(plan.erase[2] * kEraseStepMs));

    ui::ShowMsg("Flashing " + g.dev.DevDisplayName + "...", ui::colour::kButtonFace);
    f.ProgressBar1.Min = 0;
    f.ProgressBar1.Max = static_cast<int>(records.size());
    f.ProgressBar1.Value = 0;
    std::int32_t crc = 0;
    if (!SendRecords(records, crc))
        return;
    CheckCrc(crc, records.empty() ? 0 : records.back().loadAddress);
}

}  // namespace

void ProgramPs2Device() {
    TraceScope trace("ProgramPs2Device()");
    const bool identified = ID_PS2_Device();
    const std::int16_t identifyError = g.result.ErrorCode;
    const bool fileGood = ValidateHexFile(g.files.SelectedFileName, g.files.SelectedFilePath);
    if (!identified && g.result.ErrorCode == 0) {
        // A good file clears ErrorCode; a device that no longer answers, or whose firmware
        // cannot be replaced, must still not be programmed.
        g.result.ErrorCode = identifyError;
        if (identifyError == 1)
            ui::ShowNotice(ui::Notice::ProductNotFound);
    }
    if (!fileGood && g.result.ErrorCode == 0)
        Fail(1001);  // no file selected: nothing to send
    if (g.result.ErrorCode != 0)
        return;
    const ModelPlan plan = PlanFor(g.dev.DevLetter);
    const std::vector<Record> records = RecordsToSend(plan.base);

    ShowLockOutWarning();
    KbSession session;
    BeginDriverAccess("WinIo was not initialized @ ID_PS2_Device");
    if (TakeController(plan.commandByte, 300, "KB not disabled @ ProgramMonolink")) {
        EraseAndProgram(plan, records);
    } else {
        Fail(8002);
    }
    if (plan.keepsConfiguration && g.result.ErrorCode == 0 &&
        !SendConfigRecord(g.ps2.ConfigBuffer)) {
        // The firmware is in, but the settings may not be: CONFIGURE DEVICE offers them.
        Fail(8003);
    }
    if (g.dev.DevLetter == "K")
        MovePointerOffProgramButton();
    ReleaseController();
    EndDriverAccess();
    frmUI().ProgressBar1.Visible = false;
    if (g.result.ErrorCode == 5001) {
        // This error is shown in the ERASE row: the lock-out warning in the PROGRAM row goes
        // first, as the keyboard and mouse work again.
        g.result.ErrorCode = 0;
        ui::DisplayError();
        g.result.ErrorCode = 5001;
    }
}

}  // namespace rompush
