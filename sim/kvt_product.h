// The KVT remote control switch as the PC sees it on a COM port: its boot loader and its
// application talk text at 115200 baud.
//
// At power-up the boot loader announces itself ("KVT-BL Rev 2.1") and offers a download for one
// second ("Press <SPACE> for download..."). A space there asks to confirm ("Press <SPACE> to
// begin."); a second space erases the application and the boot loader takes a HEX file sent as
// text ("Ready to receive HEX file..."), line by line, each line ended by a carriage return. At
// the end record it says "DownLoad Completed..." and starts the new application; the file is
// then held as "kvt". Without a download the application starts, unless it is damaged: then the
// boot loader says "CHECK SUM error occured" and waits for a download.
//
// The application announces "KVT Rev 1.3 NPV", its button mapping (lines "BUTTON n -> Ch p"),
// and offers its remap menu for two seconds ("Press SPACE bar ... for BUTTON remap."). In the
// menu ("<Enter>:") a button number and a computer port 1 to maxport change one mapping after a
// "Y"; "0" leaves; anything else is answered "NOT A VALID ENTRY".
//
// Options (rompush-devsim --option NAME=VALUE):
//   app=1.3 NPV     the application's revision line after "KVT Rev "
//   bl=2.1          the boot loader's revision
//   damaged=1       the application fails its checksum
//   map=1,2,3,4     the computer ports of buttons 1 to 4
//   maxport=999     the highest computer port the remap menu takes
#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/serial_menu_product.h"

namespace rompush::sim {

class KvtProduct : public SerialMenuProduct {
  public:
    static constexpr int kBaud = 115200;
    // How long the boot loader offers a download, the application its remap menu; the boot
    // loader's erase before it takes a file, and the restart after a download.
    static constexpr std::int64_t kDownloadOfferUs = 1'000'000;
    static constexpr std::int64_t kRemapOfferUs = 2'000'000;
    static constexpr std::int64_t kEraseUs = 1'500'000;
    static constexpr std::int64_t kRestartUs = 500'000;
    // The boot loader's answers on the way to a download.
    static constexpr const char* kConfirmText =
        "\r\nErase application and load new firmware.\r\nPress <SPACE> to begin.\r\n";
    static constexpr const char* kErasingText = "Erasing FLASH...";
    static constexpr const char* kReadyText = "\r\nReady to receive HEX file...\r\n";
    static constexpr const char* kCompletedText = "\r\nDownLoad Completed...\r\n";
    struct Options {
        std::string appRevision = "1.3 NPV";
        std::string blRevision = "2.1";
        bool damaged = false;
        std::array<std::string, 4> map{"1", "2", "3", "4"};
        int maxPort = 999;
    };
    explicit KvtProduct(Options options) : SerialMenuProduct(kBaud), o_(std::move(options)) {}

    const std::array<std::string, 4>& Map() const { return o_.map; }
    const std::string& AppRevision() const { return o_.appRevision; }
    bool Damaged() const { return o_.damaged; }

    // The texts it sends, for tests that build what a KVT says.
    std::string BootLoaderText() const;
    std::string ApplicationText() const;

  protected:
    void OnPowerUp() override;
    void OnKey(char c) override;

  private:
    enum class Mode {
        Off,
        DownloadOffer,
        AwaitDownload,
        Confirm,
        Erasing,
        Receiving,
        Running,
        RemapOffer,
        RemapButton,
        RemapPort,
        RemapSave
    };
    void StartApplication();
    void MenuPrompt();
    void Refuse();
    void TakeLine(const std::string& line);
    void EndDownload();

    Options o_;
    Mode mode_ = Mode::Off;
    std::string entry_;  // what was typed since the last carriage return
    std::size_t button_ = 0;
    std::string port_;
    std::vector<std::string> lines_;  // the HEX file as received
    bool badRecord_ = false;
};

std::shared_ptr<SerialMenuProduct> MakeKvtProduct(const std::map<std::string, std::string>& options,
                                                  std::string& error);

}  // namespace rompush::sim
