// The simulated Crossfield matrix switch as the PC meets it on a COM port.
//
// Powered up, it sends its power-on text in two bursts at its saved rate (9600 or 57600 baud):
// a short heading at once, the diagnostics (kernel and overlay versions, "Static ram",
// "Main program     GOOD") 600 ms later. From power-up until 3 s after the second burst a
// space opens its "Serial options menu", whose eight keys are:
//   1 starting computer number (digits echoed, CR ends; an empty entry keeps the number),
//   2 baud toggle ("Set baud rate of your terminal to ... and press return", then the new
//     rate until the next power-up unless saved with 7),
//   3 download (the HEX file as text lines, checked record by record, then a dot every
//     flashing interval (114 dots by default) and "Flash programming successful"; an "X"
//     line cancels),
//   4 / 5 send the main program / kernel to the other boards ("Error" when there are none),
//   6 factory defaults (saved at once: starting computer 1, 9600 baud), 7 save, 8 restart.
// Without the space it goes on to run its main program; "?" then CR answers with its kernel
// version at any time it is not busy, and each time the PC opens its port it says a short
// "running" line. A bad kernel leaves it in its boot loader at 9600 baud, which asks
// "Try again ?  Y/N" and takes a new kernel as a HEX file; an "X" cancels a kernel at once
// and asks again, and "N" to the question halts the boot loader.
//
// Options (rompush-devsim --option NAME=VALUE): baud=9600|57600 (saved rate, default 57600),
// startcpu=N (default 5), boards=N (other boards to copy to, default 3; 0 gives copy errors),
// kernel=good|bad, flashms=N (time the flashing takes, default 5700), dotms=N (time between
// two of its dots, default flashms / 114), flash=hangs (the dots stop after flashms and the
// flashing never ends).
#pragma once

#include <map>
#include <memory>
#include <string>

#include "sim/serial_menu_product.h"

namespace rompush::sim {

class CrossfieldProduct : public SerialMenuProduct {
  public:
    struct Options {
        int baud = 57600;
        int startCpu = 5;
        int boards = 3;
        bool badKernel = false;
        int flashMs = 5700;
        int dotMs = 0;  // 0: flashMs / kFlashDots
        bool flashHangs = false;
    };
    explicit CrossfieldProduct(const Options& options);

    // The settings as saved in the product (used at the next power-up).
    int SavedBaud() const { return savedBaud_; }
    int SavedStartCpu() const { return savedCpu_; }
    bool KernelBad() const { return badKernel_; }

    static constexpr int kFlashDots = 114;
    static constexpr int kDefaultsDots = 95;

    // Said when the PC opens its port while the main program runs.
    static constexpr const char* kRunningLine =
        "\r\nTarn Electronics Crossfield Matrix Switch  main program running\r\n";

    void OnHostOpened() override;

  protected:
    void OnPowerUp() override;
    void OnKey(char c) override;

  private:
    enum class Mode {
        Running,       // main program running, menu closed
        PowerOn,       // power-on text under way, the space window open
        Menu,          // "Enter choice -->" shown
        CpuEntry,      // "Enter the starting cpu number -->"
        AwaitReturn,   // after the baud toggle, waiting for a return at the new rate
        Download,      // receiving a HEX file as text
        CopyConfirm,   // "(Y/N) ?" of a copy
        CopySure,      // "Are you sure ?" of a kernel copy
        Busy,          // flashing, copying, saving: keys are ignored
        BootTryAgain,  // boot loader: "Try again ?  Y/N"
        BootDownload,  // boot loader: receiving a kernel
        Halted,
    };

    std::string MenuText() const;
    void ShowMenu(const std::string& before = "");
    void MenuKey(char c);
    void CpuKey(char c);
    void DownloadKey(char c);
    void EndOfFile();
    void Dots(int count, int intervalMs, std::function<void()> then);
    void Restart();
    // Milliseconds the text takes on the wire at the product's rate.
    int WireMs(const std::string& text) const;

    Mode mode_ = Mode::Running;
    bool poweredUp_ = false;  // switched on since it was made
    bool spaceSeen_ = false;
    bool burstDone_ = false;
    bool query_ = false;  // "?" heard, a return answers it
    int cpu_, savedCpu_;
    int settingsBaud_, savedBaud_;
    int boards_;
    bool badKernel_;
    int flashMs_;
    int dotMs_;
    bool flashHangs_;
    bool copyKernel_ = false;
    std::string entry_;  // digits of the starting computer number
    std::string line_;   // the line of the file being received
    std::string file_;   // the lines received so far
    int lines_ = 0;
    int badLine_ = 0;
    bool wrongProduct_ = false;
};

// Makes the product from rompush-devsim's options; nullptr with the reason in `error`.
std::shared_ptr<SerialMenuProduct> MakeCrossfield(const std::map<std::string, std::string>& options,
                                                  std::string& error);

}  // namespace rompush::sim
