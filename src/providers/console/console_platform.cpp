#include "providers/console/console_platform.h"

#include <fcntl.h>
#include <semaphore.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "core/text.h"
#include "providers/posix/program_folder.h"

namespace rompush::platform::console {

namespace fs = std::filesystem;

int ConsoleDialogs::MsgBox(const std::string& prompt, int style, const std::string& title) {
    notice_(title, NormaliseLineEnds(prompt));
    switch (style & 7) {
        case mb::kYesNo:
            if (assumeYes_)
                return mb::kAnswerYes;
            refused_.push_back(NormaliseLineEnds(prompt));
            return mb::kAnswerNo;
        case mb::kOkCancel:
            if (assumeYes_)
                return mb::kAnswerOk;
            refused_.push_back(NormaliseLineEnds(prompt));
            return mb::kAnswerCancel;
        case mb::kRetryCancel:
            // A fault that needs someone at the machine: a terminal run gives up rather than
            // retry for ever.
            refused_.push_back(NormaliseLineEnds(prompt));
            return mb::kAnswerCancel;
        default:
            return mb::kAnswerOk;  // a notice: it has only the one button
    }
}

std::string ConsoleDialogs::ShowOpen(const FileDialogRequest& request) {
    return fileToOpen_.empty() ? request.fileName : fileToOpen_;
}

std::string ConsoleSystem::ResolveFolder(const std::string& folder) {
    std::error_code ec;
    if (!folder.empty()) {
        fs::create_directories(folder, ec);
        return fs::absolute(folder, ec).string();
    }
    return posix::ProgramFolderFor(posix::ExecutableFolder());
}

ConsoleSystem::ConsoleSystem(const std::string& folder) : programFolder_(ResolveFolder(folder)) {}

std::vector<std::string> ConsoleSystem::DataFolders() const {
    return posix::DataFoldersFor(posix::ExecutableFolder());
}

std::string ConsoleSystem::HomeFolder() const {
    const char* home = std::getenv("HOME");
    return home ? home : "/";
}

void ConsoleSystem::CreateNamedMutex(const std::string& name) {
    // Held until the process ends, as the window holds it; several copies run side by side.
    const std::string semName = "/" + name;
    sem_t* held = ::sem_open(semName.c_str(), O_CREAT, 0644, 1);
    (void)held;
}

void ConsoleSystem::HoldSettings(bool hold) {
    if (hold) {
        settingsLock_.Hold(programFolder_);
    } else {
        settingsLock_.Release();
    }
}

void ConsoleEventLoop::DoEvents() {
    loop_.DoEvents();
    if (afterEvents_)
        afterEvents_();
}

void ConsoleEventLoop::WaitForEvents(int maxMs) {
    loop_.WaitForEvents(maxMs);
    if (afterEvents_)
        afterEvents_();
}

ConsolePlatform::ConsolePlatform(posix::PortMap map, std::function<void()> afterEvents,
                                 ConsoleDialogs consoleDialogs, const std::string& folder,
                                 std::unique_ptr<KeyboardPorts> keyboardPorts)
    : serial(std::move(map)),
      events(loop, std::move(afterEvents)),
      dialogs(std::move(consoleDialogs)),
      system(folder),
      keyboard(std::move(keyboardPorts)) {
    Install({.serial = &serial,
             .timer = &timer,
             .clock = &clock,
             .events = &events,
             .dialogs = &dialogs,
             .desktop = &desktop,
             .system = &system,
             .keyboard = keyboard.get()});
}

ConsolePlatform::~ConsolePlatform() {
    Install({});
}

}  // namespace rompush::platform::console
