#include "serial/flash_program.h"

#include <string>

#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "hexfile/hex_validation.h"
#include "platform/platform.h"
#include "serial/comm.h"
#include "serial/flash_pages.h"
#include "serial/identify.h"
#include "serial/packets.h"
#include "ui/main_window.h"
#include "ui/notices.h"

namespace rompush {

namespace flash {

std::uint8_t ImageByte(std::int32_t index) {
    const auto& image = g.hex.HexData;
    if (index < 0 || static_cast<std::size_t>(index) >= image.size())
        return 0xFF;
    return static_cast<std::uint8_t>(image[static_cast<std::size_t>(index)] & 0xFF);
}

std::int32_t ImageCrc(std::int32_t first, int count) {
    std::int32_t crc = 0;
    for (int k = 0; k < count; ++k)
        CrcUpdate(crc, ImageByte(first + k));
    return crc;
}

bool DeviceCrcDiffers(std::int32_t crc) {
    const auto& rcv = g.link.RcvArray;
    return rcv[2] == 0x5D && rcv[3] * 256 + rcv[4] != crc;
}

bool AnswerCodeBeforeEndIs(std::uint8_t code) {
    const auto& rcv = g.link.RcvArray;
    const int count = rcv[0];
    // Index count - 2 must be a received byte (1 or more) inside the buffer.
    if (count < 3 || count >= static_cast<int>(rcv.size()))
        return false;
    return rcv[count - 2] == code;
}

bool LoadSelectedFile() {
    const auto& files = g.files;
    if (!ValidateHexFile(files.SelectedFileName, files.SelectedFilePath) &&
        g.result.ErrorCode == 0) {
        g.result.ErrorCode = 1001;
        ui::DisplayError();
    }
    return g.result.ErrorCode == 0;
}

void LockCommandButtons() {
    auto& f = frmUI();
    f.btnSCAN.Enabled = false;
    f.btnHEXFILE.Enabled = false;
    f.btnERASE.Enabled = false;
    f.btnVERIFY.Enabled = false;
    f.btnPROGRAM.Enabled = false;
}

void StepProgress() {
    auto& bar = frmUI().ProgressBar1;
    if (bar.Value < bar.Max)
        ++bar.Value;
}

void HideProgress() {
    frmUI().ProgressBar1.Visible = false;
}

bool NextPageAllowed() {
    platform::Current().events->DoEvents();
    return g.result.ErrorCode == 0;
}

void FinishPages(const std::string& doneText) {
    if (g.result.ErrorCode == 0) {
        frmUI().ProgressBar1.Value = 0;
        ui::ShowMsg(doneText, ui::colour::kButtonFace);
    }
    HideProgress();
}

}  // namespace flash

namespace {

using flash::AnswerCodeBeforeEndIs;

constexpr int kQtrPageSize = 128;
constexpr int kQtrLastPage = 255;
constexpr std::int32_t kQtrAnswerMs = 3000;
constexpr int kVlnPageSize = 512;
constexpr int kVlnFirstPage = 4;
constexpr int kVlnLastPage = 28;
constexpr std::int32_t kVlnAnswerMs = 60000;
constexpr std::int32_t kVlnImageOffset = 0x800;  // device address of HexData index 0
constexpr int kBlockBytes = 32;
constexpr int kFlashModeAttempts = 4;
constexpr int kVlnEraseTries = 5;
constexpr std::uint8_t kEraseAnswer = 0x59;
constexpr std::uint8_t kWriteAnswer = 0x5B;

void Fail(std::int16_t code) {
    g.result.ErrorCode = code;
    ui::DisplayError();
}

// The packet buffer of one write block: data count, device address, 32 image bytes.
void FillWriteBlock(std::uint8_t addressHigh, std::uint8_t addressLow, std::int32_t imageIndex) {
    auto& payload = g.link.PayloadBuf;
    payload[0] = kBlockBytes;
    payload[1] = addressHigh;
    payload[2] = addressLow;
    for (int k = 0; k < kBlockBytes; ++k)
        payload[3 + k] = flash::ImageByte(imageIndex + k);
}

void ShowStarting(bool program) {
    ui::ShowMsg((program ? "Flashing " : "Erasing ") + g.dev.DevDisplayName + "...",
                ui::colour::kButtonFace);
}

// Compares the device's CRC of the page just written with the image. A page that differs is
// a failed program: it ends the pages with the family's CRC error, so the run can never be
// reported as programmed and verified (the verify that follows does not look at every page).
void CheckPageCrc(std::int32_t firstIndex, int pageSize, std::int32_t answerMs,
                  std::int16_t crcError) {
    const std::int32_t crc = flash::ImageCrc(firstIndex, pageSize);
    send_packet(4, CRC_PAGE_CMD);
    RcvIn(answerMs);
    if (flash::DeviceCrcDiffers(crc)) {
        ui::ShowNotice(ui::Notice::PageCrcMismatch);
        Fail(crcError);
    }
}

// Hands the device over to its bootloader. The input is emptied before every FLASH_CMD: the
// ready byte of an application that has just started would otherwise be read as the start of
// the answer.
bool EnterFlashMode(std::int16_t delayMs, std::int32_t answerMs) {
    bool flashMode = false;
    for (int attempt = 0; attempt < kFlashModeAttempts && !flashMode && !PortLost(); ++attempt) {
        ClearInBuffer();
        send_packet(4, FLASH_CMD);
        if (delayMs > 0)
            Delay(delayMs);
        RcvIn(answerMs);
        flashMode = Corrlator(FLASH_CMD);
    }
    return flashMode;
}

}  // namespace

bool Scan_For_Data(std::int32_t address) {
    TraceScope trace("Scan_For_Data( &H" + Hex(static_cast<unsigned>(address)) + " )");
    for (std::int32_t k = 0; k < kQtrPageSize; ++k) {
        if (flash::ImageByte(address + k) != 0xFF)
            return true;
    }
    return false;
}

std::int32_t IntegerToUnsigned(std::int16_t value) {
    TraceScope trace("IntegerToUnsigned()");
    return value < 0 ? static_cast<std::int32_t>(value) + 65536 : value;
}

std::int16_t UnsignedToInteger(std::int32_t value) {
    const std::int32_t low = value & 0xFFFF;
    return static_cast<std::int16_t>(low > 32767 ? low - 65536 : low);
}

void EraseProgramQTR() {
    TraceScope trace("EraseProgramQTR()");
    const bool program = g.result.ProgramMode;

    if (g.cmd.CurrentCommand == uicmdPROGRAM) {
        // A device that did not identify itself is not programmed: a good file check would
        // wipe out its failure, and with no device found the file is not matched against it.
        if (!xmitID_CMD())
            return;
        if (!flash::LoadSelectedFile()) {
            flash::HideProgress();
            return;
        }
    }

    ui::StartProgressBar(256);
    flash::LockCommandButtons();
    frmUI().btnLASTUSED.Enabled = false;

    WaitForQTR();
    ClearInBuffer();
    Delay(500);

    if (!EnterFlashMode(0, kQtrAnswerMs)) {
        Fail(3005);
        flash::HideProgress();
        return;
    }
    ShowStarting(program);

    for (int page = 0; page <= kQtrLastPage; ++page) {
        g.link.PayloadBuf[0] = static_cast<std::uint8_t>(page);
        // A page the device was not told of is not erased: no answer stands in for it.
        if (send_packet(5, SET_PAGE_CMD) && send_packet(4, ERASE_PAGE_CMD))
            RcvIn(kQtrAnswerMs);
        else
            g.link.RcvArray.fill(0);
        if (!AnswerCodeBeforeEndIs(kEraseAnswer)) {
            Fail(3004);
        } else if (program) {
            flash::StepProgress();
            std::int32_t address = page * kQtrPageSize;
            if (Scan_For_Data(address)) {
                for (int block = 0; block < kQtrPageSize / kBlockBytes; ++block) {
                    FillWriteBlock(static_cast<std::uint8_t>((address / 256) & 0xFF),
                                   static_cast<std::uint8_t>(address & 0xFF), address);
                    address += kBlockBytes;
                    send_packet(39, WRITE_PAGE_CMD);
                    RcvIn(kQtrAnswerMs);
                    if (g.link.RcvArray[2] != kWriteAnswer) {
                        Fail(3003);
                        break;
                    }
                }
            }
        }
        if (program && g.result.ErrorCode == 0)
            CheckPageCrc(page * kQtrPageSize, kQtrPageSize, kQtrAnswerMs, 1301);
        if (!program)
            flash::StepProgress();
        if (!flash::NextPageAllowed())
            break;
    }
    flash::FinishPages(program ? "Flash complete" : "Erase complete");
}

void EraseProgramVLN() {
    TraceScope trace("EraseProgramVLN()");
    const bool program = g.result.ProgramMode;

    if (g.cmd.CurrentCommand == uicmdPROGRAM) {
        if (!flash::LoadSelectedFile())
            return;
        if (!xmitID_CMD())
            return;
    }

    flash::LockCommandButtons();
    frmUI().btnLASTUSED.Enabled = false;
    // Programming steps once per block (16 per page), erasing once per page.
    ui::StartProgressBar(program ? 400 : 25);

    ClearInBuffer();
    Delay(500);

    if (!EnterFlashMode(65, 5000)) {
        Fail(4006);
        flash::HideProgress();
        return;
    }
    ShowStarting(program);

    const auto& rcv = g.link.RcvArray;
    std::int32_t index = 0;  // image index of the next block; device address index + &H800
    for (int page = kVlnFirstPage; page <= kVlnLastPage; ++page) {
        g.link.PayloadBuf[0] = static_cast<std::uint8_t>(page);
        // An erase answer must come whole; a broken one is asked for again.
        for (int attempt = 0; attempt < kVlnEraseTries && !PortLost(); ++attempt) {
            if (!send_packet(5, SET_PAGE_CMD) || !send_packet(4, ERASE_PAGE_CMD)) {
                g.link.RcvArray.fill(0);
                break;
            }
            RcvIn(kVlnAnswerMs);
            Delay(2);
            if (rcv[0] == 4)
                break;
        }
        if (rcv[0] == 0) {
            Fail(4005);
            break;
        }
        if (!AnswerCodeBeforeEndIs(kEraseAnswer)) {
            Fail(4004);
            break;
        }

        if (program) {
            for (int block = 0; block < kVlnPageSize / kBlockBytes; ++block) {
                flash::StepProgress();
                const std::int32_t address =
                    IntegerToUnsigned(static_cast<std::int16_t>(index + kVlnImageOffset));
                FillWriteBlock(static_cast<std::uint8_t>(UnsignedToInteger((address / 256) & 0xFF)),
                               static_cast<std::uint8_t>(UnsignedToInteger(address & 0xFF)), index);
                index += kBlockBytes;
                send_packet(39, WRITE_PAGE_CMD);
                RcvIn(kVlnAnswerMs);
                if (rcv[2] != kWriteAnswer) {
                    Fail(4003);
                    break;
                }
            }
            if (g.result.ErrorCode == 0) {
                const std::int32_t first = page * kVlnPageSize - kVlnImageOffset;
                index = first + kVlnPageSize;
                CheckPageCrc(first, kVlnPageSize, kVlnAnswerMs, 1401);
            }
        } else {
            flash::StepProgress();
        }
        if (!flash::NextPageAllowed())
            break;
    }
    flash::FinishPages(program ? "Flash complete" : "Erase complete");
}

}  // namespace rompush
