#include "sim/crossfield_product.h"

#include <cstdlib>

namespace rompush::sim {

namespace {
constexpr const char* kHeading =
    "\r\n\r\nTarn Electronics Crossfield Matrix Switch\r\nPower on diagnostics\r\n\r\n";
constexpr const char* kBootHeading =
    "\r\n\r\nTarn Electronics Crossfield Boot Loader\r\nPower on diagnostics\r\n\r\n";
constexpr const char* kDiagnostics =
    "Kernel version 2.10.03\r\n"
    "Overlay version 3.41B\r\n"
    "Static ram test  PASSED\r\n"
    "Main program     GOOD\r\n"
    "\r\nHit space bar for menu\r\n";
constexpr const char* kBadKernel = "Kernel checksum error\r\nLoad new kernel.  Try again ?  Y/N";
constexpr int kSecondBurstMs = 600;
constexpr int kSpaceWindowMs = 3000;
constexpr int kCrossfieldCode = 'U' ^ 0x96;
}  // namespace

CrossfieldProduct::CrossfieldProduct(const Options& options)
    : SerialMenuProduct(options.baud),
      cpu_(options.startCpu),
      savedCpu_(options.startCpu),
      settingsBaud_(options.baud),
      savedBaud_(options.baud),
      boards_(options.boards),
      badKernel_(options.badKernel),
      flashMs_(options.flashMs),
      dotMs_(options.dotMs > 0 ? options.dotMs : options.flashMs / kFlashDots),
      flashHangs_(options.flashHangs) {}

int CrossfieldProduct::WireMs(const std::string& text) const {
    return static_cast<int>(static_cast<long long>(text.size()) * 10000 / Baud()) + 1;
}

void CrossfieldProduct::OnHostOpened() {
    if (poweredUp_ && mode_ == Mode::Running)
        Say(kRunningLine);
}

void CrossfieldProduct::OnPowerUp() {
    poweredUp_ = true;
    cpu_ = savedCpu_;
    settingsBaud_ = savedBaud_;
    spaceSeen_ = burstDone_ = query_ = false;
    if (badKernel_) {
        // The boot loader always talks at 9600 baud.
        SetBaud(9600);
        mode_ = Mode::Busy;
        Say(kBootHeading);
        Later(kSecondBurstMs * 1000LL, [this] {
            Say(kBadKernel);
            mode_ = Mode::BootTryAgain;
        });
        return;
    }
    SetBaud(savedBaud_);
    mode_ = Mode::PowerOn;
    Say(kHeading);
    Later(kSecondBurstMs * 1000LL, [this] {
        Say(kDiagnostics);
        const int sent = WireMs(kDiagnostics);
        Later(sent * 1000LL, [this] {
            burstDone_ = true;
            if (spaceSeen_)
                ShowMenu();
        });
        // Without the space the main program runs, silently.
        Later((sent + kSpaceWindowMs) * 1000LL, [this] {
            if (mode_ == Mode::PowerOn)
                mode_ = Mode::Running;
        });
    });
}

std::string CrossfieldProduct::MenuText() const {
    return "\r\nSerial options menu\r\n"
           "  1) Change starting computer number.  " +
           std::to_string(cpu_) +
           "\r\n"
           "  2) Change baud rate.  " +
           std::to_string(settingsBaud_) +
           "\r\n"
           "  3) Download main program\r\n"
           "  4) Send main program to other boards\r\n"
           "  5) Send kernel to other boards\r\n"
           "  6) Load factory defaults\r\n"
           "  7) Save settings to Flash\r\n"
           "  8) Restart\r\n"
           "\r\nEnter choice -->";
}

void CrossfieldProduct::ShowMenu(const std::string& before) {
    mode_ = Mode::Menu;
    Say(before + MenuText());
}

void CrossfieldProduct::Dots(int count, int intervalMs, std::function<void()> then) {
    mode_ = Mode::Busy;
    for (int i = 1; i <= count; ++i)
        Later(static_cast<long long>(i) * intervalMs * 1000, [this] { Say("."); });
    Later((static_cast<long long>(count) * intervalMs + 1) * 1000, std::move(then));
}

void CrossfieldProduct::Restart() {
    mode_ = Mode::Busy;
    const std::string text = "\r\nRestarting...\r\n";
    Say(text);
    Later((WireMs(text) + 200) * 1000LL, [this] { PowerCycle(); });
}

void CrossfieldProduct::OnKey(char c) {
    // The query is answered whenever the product is not in the middle of something.
    if (c == '?' && (mode_ == Mode::Running || mode_ == Mode::Menu)) {
        query_ = true;
        return;
    }
    if (c == '\r' && query_) {
        query_ = false;
        Say("\r\nCrossfield  Kernel version 2.10.03\r\n");
        return;
    }
    query_ = false;
    switch (mode_) {
        case Mode::PowerOn:
            if (c == ' ' && !spaceSeen_) {
                spaceSeen_ = true;
                if (burstDone_)
                    ShowMenu();
            }
            break;
        case Mode::Menu:
            MenuKey(c);
            break;
        case Mode::CpuEntry:
            CpuKey(c);
            break;
        case Mode::AwaitReturn:
            if (c == '\r')
                ShowMenu();
            break;
        case Mode::Download:
        case Mode::BootDownload:
            DownloadKey(c);
            break;
        case Mode::CopyConfirm:
        case Mode::CopySure:
            if (c == 'N') {
                ShowMenu("\r\n");
            } else if (c == 'Y' && copyKernel_ && mode_ == Mode::CopyConfirm) {
                mode_ = Mode::CopySure;
                Say("\r\nThe kernels of the other boards will be replaced.\r\nAre you sure ?");
            } else if (c == 'Y') {
                Say("\r\nCopying");
                Dots(boards_ * 10, 100, [this] { ShowMenu("\r\nCopy complete\r\n"); });
            }
            break;
        case Mode::BootTryAgain:
            if (c == 'Y') {
                mode_ = Mode::BootDownload;
                line_.clear();
                file_.clear();
                lines_ = badLine_ = 0;
                wrongProduct_ = false;
                Say("\r\nWaiting for file\r\n");
            } else if (c == 'N') {
                mode_ = Mode::Halted;
                Say("\r\nKernel not loaded  System halted\r\n");
            }
            break;
        case Mode::Running:
        case Mode::Busy:
        case Mode::Halted:
            break;
    }
}

void CrossfieldProduct::MenuKey(char c) {
    switch (c) {
        case '1':
            mode_ = Mode::CpuEntry;
            entry_.clear();
            Say("\r\nEnter the starting cpu number -->");
            break;
        case '2': {
            settingsBaud_ = settingsBaud_ == 9600 ? 57600 : 9600;
            const std::string text = "\r\nSet baud rate of your terminal to " +
                                     std::to_string(settingsBaud_) + " and press return\r\n";
            mode_ = Mode::Busy;
            Say(text);
            // The new rate starts once the line has left at the old one.
            Later(WireMs(text) * 1000LL, [this] {
                SetBaud(settingsBaud_);
                mode_ = Mode::AwaitReturn;
            });
            break;
        }
        case '3':
            mode_ = Mode::Download;
            line_.clear();
            file_.clear();
            lines_ = badLine_ = 0;
            wrongProduct_ = false;
            Say("\r\nDownload main program\r\nWaiting for file\r\n");
            break;
        case '4':
        case '5':
            copyKernel_ = c == '5';
            if (boards_ <= 0) {
                ShowMenu("\r\nError: no other boards answered.\r\nCheck the backplane cables.\r\n");
                break;
            }
            mode_ = Mode::CopyConfirm;
            Say(std::string("\r\nSend ") + (copyKernel_ ? "kernel" : "main program") + " to " +
                std::to_string(boards_) + " other boards (Y/N) ?");
            break;
        case '6':
            Say("\r\nLoading factory defaults");
            cpu_ = savedCpu_ = 1;
            settingsBaud_ = savedBaud_ = 9600;
            Dots(kDefaultsDots, 20, [this] { ShowMenu("\r\nDefaults saved\r\n"); });
            break;
        case '7':
            Say("\r\nSaving settings to Flash");
            savedCpu_ = cpu_;
            savedBaud_ = settingsBaud_;
            Dots(5, 100, [this] { ShowMenu("\r\nSettings saved\r\n"); });
            break;
        case '8':
            Restart();
            break;
        default:
            break;  // anything else, a return too, leaves the menu as it is
    }
}

void CrossfieldProduct::CpuKey(char c) {
    if (c >= '0' && c <= '9' && entry_.size() < 3) {
        entry_ += c;
        Say(std::string(1, c));  // echoed
        return;
    }
    if (c != '\r')
        return;
    std::string before = "\r\n";
    if (!entry_.empty()) {
        const int n = std::atoi(entry_.c_str());
        if (n >= 1 && n <= 253 && (n - 1) % 4 == 0) {
            cpu_ = n;
        } else {
            before += "Invalid number\r\n";
        }
    }
    ShowMenu(before);
}

void CrossfieldProduct::DownloadKey(char c) {
    if (c == '\n')
        return;
    if (c == 'X' && line_.empty() && mode_ == Mode::BootDownload) {
        // The boot loader gives the kernel up at once and asks again.
        mode_ = Mode::BootTryAgain;
        Say("\r\nDownload cancelled\r\nTry again ?  Y/N");
        return;
    }
    if (c != '\r') {
        line_ += c;
        return;
    }
    std::string line;
    line.swap(line_);
    if (line.empty())
        return;
    if (line[0] == 'X') {
        // The PC refuses the file ("X", "N" and a return).
        if (mode_ == Mode::BootDownload) {
            mode_ = Mode::BootTryAgain;
            Say("\r\nDownload cancelled\r\nTry again ?  Y/N");
        } else {
            ShowMenu("\r\nDownload cancelled\r\n");
        }
        return;
    }
    ++lines_;
    file_ += line + "\r\n";
    const HexLine record = ReadHexLine(line);
    if (!record.sound) {
        if (badLine_ == 0)
            badLine_ = lines_;
        return;
    }
    const std::string& data = record.data;
    if (lines_ == 1 && data.size() == 6 && data[0] == 1 &&
        static_cast<unsigned char>(data[3]) != kCrossfieldCode) {
        wrongProduct_ = true;
    }
    if (record.type == 1)
        EndOfFile();
}

void CrossfieldProduct::EndOfFile() {
    const bool boot = mode_ == Mode::BootDownload;
    if (badLine_ != 0 || wrongProduct_) {
        const std::string why =
            wrongProduct_ ? "\r\nWrong file for this unit\r\n"
                          : "\r\nRecord error in line " + std::to_string(badLine_) + "\r\n";
        if (boot) {
            mode_ = Mode::BootTryAgain;
            Say(why + "Try again ?  Y/N");
        } else {
            ShowMenu(why + "Download failed\r\n");
        }
        return;
    }
    Say("\r\nFile received, " + std::to_string(lines_) + " records\r\nProgramming flash");
    Dots(flashMs_ / dotMs_, dotMs_, [this, boot] {
        if (flashHangs_)
            return;  // stuck in its flash: nothing more is said
        held_[boot ? "kernel" : "cfx"] = file_;
        if (!boot) {
            ShowMenu("\r\nFlash programming successful\r\n");
            return;
        }
        badKernel_ = false;
        mode_ = Mode::Busy;
        const std::string text = "\r\nFlash programming successful\r\n";
        Say(text);
        Later((WireMs(text) + 500) * 1000LL, [this] { PowerCycle(); });
    });
}

std::shared_ptr<SerialMenuProduct> MakeCrossfield(const std::map<std::string, std::string>& options,
                                                  std::string& error) {
    CrossfieldProduct::Options o;
    for (const auto& [name, value] : options) {
        long number = 0;
        const bool isNumber = ParseOptionNumber(value, number) && number <= 1'000'000;
        if (name == "baud" && (value == "9600" || value == "57600")) {
            o.baud = static_cast<int>(number);
        } else if (name == "startcpu" && isNumber && number >= 1) {
            o.startCpu = static_cast<int>(number);
        } else if (name == "boards" && isNumber && number >= 0) {
            o.boards = static_cast<int>(number);
        } else if (name == "kernel" && (value == "good" || value == "bad")) {
            o.badKernel = value == "bad";
        } else if (name == "flashms" && isNumber && number >= CrossfieldProduct::kFlashDots) {
            o.flashMs = static_cast<int>(number);
        } else if (name == "dotms" && isNumber && number >= 1) {
            o.dotMs = static_cast<int>(number);
        } else if (name == "flash" && value == "hangs") {
            o.flashHangs = true;
        } else {
            error = "crossfield: option " + name + "=" + value +
                    " (baud=9600|57600, startcpu=N, boards=N, kernel=good|bad, flashms=N, "
                    "dotms=N, flash=hangs)";
            return nullptr;
        }
    }
    return std::make_shared<CrossfieldProduct>(o);
}

}  // namespace rompush::sim
