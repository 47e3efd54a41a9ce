// The simulated Meridan modular switch at 115200 baud. Powered up, it prints its monitor
// banner, then its diagnostics, and listens a few seconds for a space: with one it stops in
// its serial options menu, without one it boots to its KVM work and ends with "USB mouse" or
// "PS2 mouse". From the menu it receives MAIN, USB and QRX firmware as HEX text (MAIN and QRX
// are kept under "main", "usb", "qrx"), copies its firmware to the data controllers, loads
// factory defaults and exits to a restart. After a QRX update it restarts by itself.
//
// Options (rompush-devsim --option NAME=VALUE):
//   version=9.02      program version; below 9 there is no USB board and boot ends "PS2 mouse"
//   usb=1             a USB board ("Receive new USB" in the menu); usb=0 none
//   qrx=2,5           ports with QRX transmitters ("Receive new QRX" in the menu); qrx=0 none
//   controllers=2     data controllers (a copy needs 2 or more)
//   sector_ms=40      time to program and verify one 4 KB flash sector
//   fault=NAME        a misbehaving product: miss-space (the space comes too late),
//                     quiet-defaults, defaults-unconfirmed (the menu comes back without
//                     "Reset to default successful"), no-file-wait (no "Waiting for file"),
//                     bad-sector (the second sector fails its verify), no-sectors (a MAIN
//                     report without any sector), usb-receive, qrx-receive (the file is not
//                     confirmed), qrx-port (the transmitter on the first QRX port does not answer),
//                     copy-error (the second data controller fails during the copy), mute
//                     (stops answering after the menu)
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sim/serial_menu_product.h"

namespace rompush::sim {

struct MeridanOptions {
    std::string version = "9.02";
    bool usb = true;
    std::vector<int> qrxPorts{2, 5};
    int controllers = 2;
    int sectorMs = 40;
    std::string fault;
};

// Reads the options above; false with the reason in `error` for an unknown or bad one.
bool ParseMeridanOptions(const std::map<std::string, std::string>& options, MeridanOptions& out,
                         std::string& error);

class MeridanProduct : public SerialMenuProduct {
  public:
    static constexpr int kBaud = 115200;
    static constexpr std::int64_t kSpaceWindowUs = 3'000'000;  // after the diagnostics
    explicit MeridanProduct(MeridanOptions options = {});

    const MeridanOptions& Options() const { return options_; }
    // The menu text as the product prints it, with its prompt.
    std::string MenuText() const;
    // The Exit entry's digit.
    char ExitDigit() const;
    // Copies to the data controllers that ran to their end.
    int CopiesDone() const { return copiesDone_; }

  protected:
    void OnPowerUp() override;
    void OnKey(char c) override;

  private:
    enum class Stage { Off, Booting, Menu, Receiving, Busy, Question, Running };
    void Boot(bool restartAfterExit);
    void BootToWork();
    void ShowMenu();
    void Choice(char c);
    void FileLine(const std::string& line);
    void FileComplete();
    void FlashMain();
    void FlashUsb();
    void QrxQuestions();
    void FlashQrxPort(std::size_t index);
    bool UsbPresent() const;
    bool VersionAtLeast9() const;

    MeridanOptions options_;
    Stage stage_ = Stage::Off;
    bool spaceHeard_ = false;
    bool spaceWindowOpen_ = false;
    std::string target_;  // "main", "usb", "qrx" while receiving
    std::string line_;
    std::string received_;
    std::set<long> sectors_;
    int questions_ = 0;
    int copyAnswers_ = 0;
    int copiesDone_ = 0;
    int boots_ = 0;  // counts boots; the timers of an earlier one are dropped
};

}  // namespace rompush::sim
