#include "support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QTest>
#include <QTreeView>

#include "acquisition/samplelistmodel.h"

namespace {

// Every window test starts in the C regional format ("." as the decimal
// separator, no grouping) whatever the machine's; a test that wants another
// format sets it with QLocale::setDefault. The system's error texts in the
// failure boxes follow the program's language; a language list in
// $LANGUAGE would take precedence in the C library, so it is cleared.
void useCFormat() {
    QLocale::setDefault(QLocale::c());
    qunsetenv("LANGUAGE");
}
Q_COREAPP_STARTUP_FUNCTION(useCFormat)

}  // namespace

namespace tarvelo::guitest {

QMessageBox::StandardButton RecordingDialogs::message(QWidget*, const QString& text,
                                                      const QString& caption,
                                                      QMessageBox::Icon icon,
                                                      QMessageBox::StandardButtons buttons) {
    messages.append({text, caption, icon, buttons});
    return answers.isEmpty() ? defaultAnswer : answers.takeFirst();
}

QString RecordingDialogs::saveFileName(QWidget* owner, const gui::FileRequest& request) {
    fileRequests.append(request);
    // As the real dialog: a refused answer shows its message and the dialog
    // stays open for the next answer.
    while (!fileAnswers.isEmpty()) {
        const QString path = fileAnswers.takeFirst();
        const QString refused = request.refusal ? request.refusal(path) : QString();
        if (refused.isEmpty())
            return path;
        message(owner, refused, request.refusalCaption, QMessageBox::Critical, QMessageBox::Ok);
    }
    return {};
}

QString RecordingDialogs::openFileName(QWidget*, const gui::FileRequest& request) {
    fileRequests.append(request);
    return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

QStringList RecordingDialogs::openFileNames(QWidget* owner, const gui::FileRequest& request) {
    const QString answer = openFileName(owner, request);
    return answer.isEmpty() ? QStringList() : answer.split(QLatin1Char('\n'));
}

// A loopback port bound for as long as the rig lives, but not listening:
// connects to it are refused, and no other program can take the port meanwhile.
static int boundRefusingSocket(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::fprintf(stderr, "no free port\n");
        std::abort();
    }
    port = ntohs(address.sin_port);
    return fd;
}

Rig::Rig(bool listening, sim::InstrumentConfig config) {
    if (!dir_.isValid())
        std::abort();
    if (listening) {
        instrument = std::make_unique<sim::Instrument>(std::move(config));
        if (!instrument->start()) {
            std::fprintf(stderr, "the simulated instrument did not start\n");
            std::abort();
        }
        port_ = instrument->commandPort();
    } else {
        refusingFd_ = boundRefusingSocket(port_);
    }
    values.programDirectory = dir_.path().toStdString();
    // The start-up probe is made once and gives up at the worker threads'
    // receive time-out; on a loaded machine (a sanitizer build beside other
    // work) the simulator's answer can take longer than the instrument's one
    // second, and the program would then never become ready. The stream
    // thread only refreshes the status bar on this time-out.
    values.workerTiming.workerReceiveTimeout = std::chrono::seconds(5);
}

Rig::~Rig() {
    // The windows go first: they may hold the probe, which talks to the
    // instrument.
    windows.hauptFenster.reset();
    instrument.reset();
    if (refusingFd_ >= 0)
        ::close(refusingFd_);
}

void Rig::writeSettings(const QStringList& extraLines) {
    QByteArray text =
        "[Config]\r\nIP-Server=127.0.0.1\r\nPort=" + QByteArray::number(port_) + "\r\n";
    for (const QString& line : extraLines)
        text += line.toLatin1() + "\r\n";
    QFile file(settingsPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(text);
}

QByteArray Rig::readSettings() const {
    QFile file(settingsPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

gui::ThauptFenster& Rig::start() {
    // The program must never reach for the real instrument from a test.
    const QByteArray settings = readSettings();
    if (!settings.contains("IP-Server=127.0.0.1\r\n") ||
        !settings.contains("Port=" + QByteArray::number(port_) + "\r\n")) {
        std::fprintf(stderr, "refusing to start without a loopback settings file\n");
        std::abort();
    }
    windows = gui::createProgramWindows(values, dialogs);
    windows.hauptFenster->show();
    return *windows.hauptFenster;
}

bool Rig::waitDeviceReadyBlocking(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!values.deviceReady.load()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool Rig::waitForState(gui::ThauptFenster::StartupState state, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (window().startupState() != state) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

gui::ThauptFenster& Rig::startReady() {
    start();
    if (!waitForState(gui::ThauptFenster::StartupState::Ready)) {
        std::fprintf(stderr, "the program did not become ready\n");
        std::abort();
    }
    return window();
}

bool waitForBatch(gui::ThauptFenster& window, int timeoutMs) {
    return QTest::qWaitFor([&window] { return !window.batchRunning(); }, timeoutMs);
}

QString cellText(gui::ThauptFenster& window, int row, int column) {
    auto* model = window.listView()->model();
    return model->data(model->index(row, column)).toString();
}

QString headerText(gui::ThauptFenster& window, int column) {
    return window.listView()->model()->headerData(column, Qt::Horizontal).toString();
}

}  // namespace tarvelo::guitest
