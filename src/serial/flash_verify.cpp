#include "serial/flash_verify.h"

#include "core/state.h"
#include "core/trace.h"
#include "serial/comm.h"
#include "serial/flash_pages.h"
#include "serial/packets.h"
#include "ui/main_window.h"

namespace rompush {

namespace {

constexpr int kQtrPageSize = 128;
constexpr int kQtrLastVerifiedPage = 99;
constexpr std::int32_t kQtrAnswerMs = 3000;
constexpr int kVlnPageSize = 512;
constexpr int kVlnFirstPage = 4;
constexpr int kVlnLastPage = 28;
constexpr std::int32_t kVlnAnswerMs = 10000;
constexpr std::int32_t kVlnImageOffset = 0x800;
constexpr int kVlnFlashModeAttempts = 2;

void Fail(std::int16_t code) {
    g.result.ErrorCode = code;
    ui::DisplayError();
}

bool EnterFlashMode(std::int32_t answerMs, int attempts) {
    bool hit = false;
    for (int attempt = 0; attempt < attempts && !hit && !PortLost(); ++attempt) {
        ClearInBuffer();
        send_packet(4, FLASH_CMD);
        Delay(50);
        RcvIn(answerMs);
        hit = Corrlator(FLASH_CMD);
    }
    return hit;
}

// Asks the device for the CRC of the page and compares it with the image's; a page that is
// not answered is passed over.
bool PageDiffers(int page, std::int32_t firstIndex, int pageSize, std::int32_t answerMs) {
    g.link.PayloadBuf[0] = static_cast<std::uint8_t>(page);
    send_packet(5, SET_PAGE_CMD);
    Delay(1);
    const std::int32_t crc = flash::ImageCrc(firstIndex, pageSize);
    send_packet(4, CRC_PAGE_CMD);
    Delay(50);
    RcvIn(answerMs);
    return flash::DeviceCrcDiffers(crc);
}

void ShowVerifying() {
    ui::ShowMsg("Verifying " + g.dev.DevDisplayName + "...", ui::colour::kButtonFace);
}

}  // namespace

void VerifyQTR() {
    TraceScope trace("VerifyQTR()");
    // A file that fails its check leaves the device alone, so a page compare cannot put
    // another error over the file's own.
    if (!flash::LoadSelectedFile())
        return;

    ui::StartProgressBar(200);
    flash::LockCommandButtons();

    if (!EnterFlashMode(kQtrAnswerMs, 1)) {
        Fail(1302);
        flash::HideProgress();
        return;
    }
    ShowVerifying();

    // Only the first 100 pages hold application code worth comparing.
    for (int page = 0; page <= kQtrLastVerifiedPage; ++page) {
        if (PageDiffers(page, page * kQtrPageSize, kQtrPageSize, kQtrAnswerMs))
            Fail(1301);
        else if (PortLost())
            Fail(1302);  // the device has gone: no page after this one can answer
        flash::StepProgress();
        if (!flash::NextPageAllowed())
            break;
    }
    flash::FinishPages("Verify complete");
}

void VerifyVLN() {
    TraceScope trace("VerifyVLN()");
    // Right after a PROGRAM the image is the one just written; the file is not read again.
    if (!g.result.ProgramVerifyOk && !flash::LoadSelectedFile())
        return;

    ui::DisableAllButtons();
    ui::StartProgressBar(400);

    if (!EnterFlashMode(kVlnAnswerMs, kVlnFlashModeAttempts)) {
        Fail(1402);
        flash::HideProgress();
        return;
    }
    ShowVerifying();

    for (int page = kVlnFirstPage; page <= kVlnLastPage; ++page) {
        const std::int32_t first = page * kVlnPageSize - kVlnImageOffset;
        if (PageDiffers(page, first, kVlnPageSize, kVlnAnswerMs))
            Fail(1401);
        else if (PortLost())
            Fail(1402);
        if (!flash::NextPageAllowed())
            break;
    }
    frmUI().ProgressBar1.Value = 0;  // this bar never moved; it is reset whatever the result
    flash::FinishPages("Verify complete");
}

}  // namespace rompush
