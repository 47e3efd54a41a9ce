#include "providers/qt/qt_platform.h"

#include <fcntl.h>
#include <semaphore.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "core/text.h"
#include "providers/posix/program_folder.h"
#include "providers/qt/window_log.h"

namespace rompush::platform::qt {

QString FromLatin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToLatin1(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

namespace {
// Depth of close handlers running; a request to end waits until they are done.
int closeHandlersRunning = 0;
}  // namespace

void RunHandler(const std::function<void()>& handler) {
    if (!handler)
        return;
    try {
        handler();
    } catch (const ProgramEnded&) {
        // Raised again by the event processing that delivered this event.
    } catch (...) {
        // The program's handlers run with errors ignored.
    }
}

void RunCloseHandler(const std::function<void()>& handler) {
    ++closeHandlersRunning;
    RunHandler(handler);
    --closeHandlersRunning;
}

// ---------------------------------------------------------------------------------------------
// Event processing

QtEventLoop::QtEventLoop() = default;
QtEventLoop::~QtEventLoop() = default;

void QtEventLoop::Render() {
    if (render_)
        render_();
    lastRender_ = std::chrono::steady_clock::now();
}

void QtEventLoop::ThrowIfEnded() const {
    if (endRequested_ && closeHandlersRunning == 0)
        throw ProgramEnded();
}

void QtEventLoop::DoEvents() {
    // A keyboard-port wait processes events on every poll of the controller, some ten
    // thousand times a second; bringing every widget up to date that often would make each
    // poll cost more than the pause it stands for. The screen cannot show more than its
    // refresh rate anyway, and every sleep renders first.
    if (std::chrono::steady_clock::now() - lastRender_ >= kRenderInterval)
        Render();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    ThrowIfEnded();
}

void QtEventLoop::WaitForEvents(int maxMs) {
    if (maxMs <= 0 || (endRequested_ && closeHandlersRunning == 0) ||
        (inputPending_ && inputPending_())) {
        DoEvents();
        return;
    }
    Render();
    // A wake-up of our own bounds the sleep; any window, timer or serial event ends it
    // earlier. Each wait has its own, so waits nested in a handler do not cut each other
    // short.
    QTimer wakeUp;
    wakeUp.setSingleShot(true);
    wakeUp.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wakeUp, &QTimer::timeout, [] {});
    wakeUp.start(maxMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    wakeUp.stop();
    ThrowIfEnded();
}

void QtEventLoop::WatchReadable(int fd, std::function<void()> onReadable) {
    // The old descriptor may already be closed: stop listening to it before anything else.
    if (notifier_) {
        notifier_->setEnabled(false);
        // The notifier may be the one whose event is being delivered right now.
        notifier_.release()->deleteLater();
    }
    onReadable_ = std::move(onReadable);
    if (fd < 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                     [this] { RunHandler(onReadable_); });
}

// ---------------------------------------------------------------------------------------------
// Timer

QtTimer::QtTimer() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(false);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        // Copied: the handler may replace itself.
        const std::function<void()> tick = tick_;
        RunHandler(tick);
    });
}

void QtTimer::Restart() {
    if (enabled_ && interval_ > 0) {
        timer_.start(interval_);
    } else {
        timer_.stop();
    }
}

void QtTimer::SetInterval(int ms) {
    interval_ = ms < 0 ? 0 : ms;
    Restart();
}

void QtTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Restart();
}

// ---------------------------------------------------------------------------------------------
// Message boxes and file dialogs

namespace {
QMessageBox::StandardButton StandardButtonOf(int answer) {
    switch (answer) {
        case mb::kAnswerCancel:
            return QMessageBox::Cancel;
        case mb::kAnswerRetry:
            return QMessageBox::Retry;
        case mb::kAnswerYes:
            return QMessageBox::Yes;
        case mb::kAnswerNo:
            return QMessageBox::No;
        default:
            return QMessageBox::Ok;
    }
}
}  // namespace

int QtDialogs::MsgBox(const std::string& prompt, int style, const std::string& title) {
    if (log_)
        log_->MessageBoxShown(title, prompt, style);
    const int answer = Ask(prompt, style, title);
    if (log_)
        log_->MessageBoxAnswered(answer);
    return answer;
}

int QtDialogs::Ask(const std::string& prompt, int style, const std::string& title) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowTitle(FromLatin1(title));
    box.setText(FromLatin1(NormaliseLineEnds(prompt)));
    box.setTextFormat(Qt::PlainText);
    switch (style & 0x70) {
        case mb::kCritical:
            box.setIcon(QMessageBox::Critical);
            break;
        case mb::kQuestion:
            box.setIcon(QMessageBox::Question);
            break;
        case mb::kExclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case mb::kInformation:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            box.setIcon(QMessageBox::NoIcon);
            break;
    }

    const std::vector<int> answers = mb::AnswersOf(style);
    std::vector<QPushButton*> buttons;
    for (const int answer : answers)
        buttons.push_back(box.addButton(StandardButtonOf(answer)));
    const bool secondIsDefault = (style & mb::kDefaultButton2) != 0 && buttons.size() > 1;
    box.setDefaultButton(buttons[secondIsDefault ? 1 : 0]);
    // Closing the box counts as its last button (Cancel, No, or the only OK).
    box.setEscapeButton(buttons.back());

    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (clicked == buttons[i])
            return answers[i];
    }
    return answers.back();
}

QString ConvertFileFilter(const std::string& filter) {
    const QStringList parts = FromLatin1(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        // The description usually repeats the pattern in brackets; Qt reads the patterns
        // from the brackets, so they are written once, in Qt's form.
        const qsizetype bracket = description.lastIndexOf(QLatin1Char('('));
        if (bracket > 0 && description.endsWith(QLatin1Char(')'))) {
            description = description.left(bracket).trimmed();
        }
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString p = pattern.trimmed();
            patterns << (p == QLatin1String("*.*") ? QStringLiteral("*") : p);
        }
        if (patterns.isEmpty())
            patterns << QStringLiteral("*");
        out << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                   QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

namespace {

// File names are the file system's bytes, so a chosen path always opens again.
QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string ToPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString StartPath(const FileDialogRequest& request) {
    const QString folder = FromPath(request.initDir);
    const bool pattern = request.fileName.find_first_of("*?") != std::string::npos;
    if (request.fileName.empty() || pattern)
        return folder;
    const QString name = FromPath(request.fileName);
    if (QDir::isAbsolutePath(name) || folder.isEmpty())
        return name;
    return QDir(folder).filePath(name);
}

}  // namespace

std::string QtDialogs::ShowSave(const FileDialogRequest& request) {
    if (log_)
        log_->FileDialogShown("Save", request.title);
    const QString chosen =
        QFileDialog::getSaveFileName(QApplication::activeWindow(), FromLatin1(request.title),
                                     StartPath(request), ConvertFileFilter(request.filter));
    if (log_)
        log_->FileDialogAnswered(ToPath(chosen));
    return chosen.isEmpty() ? request.fileName : ToPath(chosen);
}

std::string QtDialogs::ShowOpen(const FileDialogRequest& request) {
    if (log_)
        log_->FileDialogShown("Open", request.title);
    const QString chosen =
        QFileDialog::getOpenFileName(QApplication::activeWindow(), FromLatin1(request.title),
                                     StartPath(request), ConvertFileFilter(request.filter));
    if (log_)
        log_->FileDialogAnswered(ToPath(chosen));
    return chosen.isEmpty() ? request.fileName : ToPath(chosen);
}

// ---------------------------------------------------------------------------------------------
// Desktop

int VirtualKeyOf(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return 0x41 + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return 0x30 + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return 0x70 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
        case Qt::Key_Control:
            return 0x11;
        case Qt::Key_Shift:
            return 0x10;
        case Qt::Key_Alt:
            return 0x12;
        case Qt::Key_Backspace:
            return 0x08;
        case Qt::Key_Tab:
            return 0x09;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 0x0D;
        case Qt::Key_Escape:
            return 0x1B;
        case Qt::Key_Space:
            return 0x20;
        default:
            return 0;
    }
}

QtDesktop::QtDesktop() {
    QCoreApplication::instance()->installEventFilter(this);
}

QtDesktop::~QtDesktop() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
    if (pointer_ == MousePointer::Hourglass)
        QApplication::restoreOverrideCursor();
}

bool QtDesktop::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            const auto* key = static_cast<QKeyEvent*>(event);
            const int vk = VirtualKeyOf(key->key());
            if (vk != 0 && !key->isAutoRepeat()) {
                if (event->type() == QEvent::KeyPress) {
                    // Key events reach the program only while one of its windows is active,
                    // so a pair recorded here was pressed in a RomPush window.
                    for (int other : down_)
                        pairsSinceQuery_.insert(std::minmax(other, vk));
                    down_.insert(vk);
                    pressedSinceQuery_.insert(vk);
                } else {
                    down_.erase(vk);
                }
            }
            break;
        }
        case QEvent::ApplicationDeactivate:
            // Releases made in another program's window never reach us.
            down_.clear();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

std::string QtDesktop::ForegroundWindowTitle() {
    const QWidget* active = QApplication::activeWindow();
    return active != nullptr ? ToLatin1(active->windowTitle()) : std::string();
}

bool QtDesktop::AsyncKeyDown(int virtualKey) {
    const bool pressedSince = pressedSinceQuery_.erase(virtualKey) > 0;
    return pressedSince || down_.count(virtualKey) > 0;
}

bool QtDesktop::KeysDownTogether(int key1, int key2) {
    const bool paired = pairsSinceQuery_.erase(std::minmax(key1, key2)) > 0;
    return paired || (down_.count(key1) > 0 && down_.count(key2) > 0);
}

QWidget* QtDesktop::VisibleControl(const std::string& control) const {
    QWidget* widget = lookup_ ? lookup_(control) : nullptr;
    return widget != nullptr && widget->isVisible() ? widget : nullptr;
}

bool QtDesktop::CursorClient(const std::string& control, int& x, int& y) {
    QWidget* widget = VisibleControl(control);
    if (widget == nullptr)
        return false;
    const QPoint at = widget->mapFromGlobal(QCursor::pos());
    x = at.x();
    y = at.y();
    return true;
}

void QtDesktop::SetCursorClient(const std::string& control, int x, int y) {
    if (QWidget* widget = VisibleControl(control))
        QCursor::setPos(widget->mapToGlobal(QPoint(x, y)));
}

void QtDesktop::SetMousePointer(MousePointer pointer) {
    if (pointer == pointer_)
        return;
    if (pointer == MousePointer::Hourglass) {
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    } else {
        QApplication::restoreOverrideCursor();
    }
    pointer_ = pointer;
}

// ---------------------------------------------------------------------------------------------
// Operating system

QtSystem::QtSystem()
    : programFolder_(posix::ProgramFolderFor(ToPath(QCoreApplication::applicationDirPath()))) {}

std::vector<std::string> ProgramDataFolders() {
    return posix::DataFoldersFor(ToPath(QCoreApplication::applicationDirPath()));
}

std::vector<std::string> QtSystem::DataFolders() const {
    return ProgramDataFolders();
}

std::string QtSystem::HomeFolder() const {
    return ToPath(QDir::homePath());
}

void QtSystem::CreateNamedMutex(const std::string& name) {
    // Held until the process ends, so other software can see that the program runs; a
    // second copy opens the same semaphore and runs normally.
    const std::string semName = "/" + name;
    sem_t* held = ::sem_open(semName.c_str(), O_CREAT, 0644, 1);
    (void)held;
}

}  // namespace rompush::platform::qt
