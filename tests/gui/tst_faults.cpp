// The program against an instrument that misbehaves: refused connections, an
// instrument that never answers, replies without end mark, a connection
// closed in the middle of a reply, a reply of 1 MiB, a reply that never
// ends, a stream that stalls, a stream that closes and comes back, and an
// instrument that vanishes during a batch readout. In every case the window
// is back within its time-outs, the stored samples are untouched, the reply
// text stays capped, the status bar or a message box says what happened, and
// a later single shot against a healthy instrument works.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include "acquisition/mgauge.h"
#include "acquisition/mthread.h"
#include "acquisition/samplelistmodel.h"
#include "device/mtrans.h"
#include "support.h"

using tarvelo::acquisition::SampleRow;
using tarvelo::app::MenuItem;
using tarvelo::gui::ThauptFenster;
using Button = ThauptFenster::Button;
using tarvelo::guitest::Rig;
using tarvelo::sim::CommandFault;
using tarvelo::sim::Instrument;
using tarvelo::sim::StreamFault;

namespace {

constexpr double kClock = 1.6e12;
// The program's wait before the first receive and its receive time-out.
constexpr qint64 kReplyWaitMs = 100;
constexpr qint64 kTimeoutMs = 1000;
// Room for a loaded machine; a handler that hangs takes far longer.
constexpr qint64 kSlackMs = 4000;

tarvelo::sim::InstrumentConfig fixedClock(int32_t batchCount = 25) {
    tarvelo::sim::InstrumentConfig config;
    config.clockStartMs = kClock;
    config.batchCount = batchCount;
    return config;
}

std::vector<SampleRow> storedRows(Rig& rig) {
    return rig.values.memory.snapshot().rows;
}

bool sameRows(const std::vector<SampleRow>& a, const std::vector<SampleRow>& b, std::size_t count) {
    if (a.size() < count || b.size() < count)
        return false;
    return std::memcmp(a.data(), b.data(), count * sizeof(SampleRow)) == 0;
}

// Runs a handler through its control and returns how long the window's
// thread was held (the handlers block it for their exchanges).
qint64 timedClick(QToolButton* button) {
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(button, Qt::LeftButton);
    return clock.elapsed();
}

// How long a batch readout started by `action` runs until it has ended.
qint64 timedTrigger(ThauptFenster& window, QAction* action) {
    QElapsedTimer clock;
    clock.start();
    action->trigger();
    if (!tarvelo::guitest::waitForBatch(window))
        return std::numeric_limits<qint64>::max();
    return clock.elapsed();
}

// The event loop runs again: a timer posted now fires soon.
bool eventLoopResponds() {
    bool fired = false;
    // The timer belongs to `guard`: should the loop not answer in time, it
    // never fires after this function has returned.
    QObject guard;
    QTimer::singleShot(0, &guard, [&fired] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    while (!fired && clock.elapsed() < tarvelo::guitest::kHungMs.count())
        QTest::qWait(5);
    return fired;
}

// Every text the status bar shows, in order. The sampling thread's count
// replaces the bar's text once a second even while no stream runs, so a
// check of the text after an operation would race with it; the bar paints
// each text at once (the link blocks the thread), and the log keeps them all.
class StatusLog : public QObject {
public:
    explicit StatusLog(ThauptFenster& w)
        : label_(w.findChild<QLabel*>(QStringLiteral("StatusBar1Text"))) {
        label_->installEventFilter(this);
    }
    bool saw(const QString& text) const { return texts_.contains(text); }
    void clear() { texts_.clear(); }
    QString all() const { return texts_.join(QStringLiteral(" | ")); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && (texts_.isEmpty() || texts_.last() != label_->text()))
            texts_ << label_->text();
        return false;
    }

private:
    QLabel* label_;
    QStringList texts_;
};

// Takes `n` healthy single shots: the samples the faults must not touch.
void takeShots(Rig& rig, int n) {
    ThauptFenster& w = rig.window();
    const int before = rig.values.memory.RowCount();
    for (int i = 0; i < n; ++i)
        QTest::mouseClick(w.button(Button::SingleShoot), Qt::LeftButton);
    QCOMPARE(rig.values.memory.RowCount(), before + n);
}

// Starts the program against `rig`'s instrument, waits for the first
// contact and stores `shots` single shots, the samples a fault must not touch.
ThauptFenster& startWithShots(Rig& rig, int shots, const QStringList& settings = {}) {
    rig.writeSettings(settings);
    ThauptFenster& w = rig.startReady();
    takeShots(rig, shots);
    return w;
}

// With the faults cleared, a single shot stores one more sample and shows no
// message: the program has come through unharmed.
void verifyRecovers(Rig& rig) {
    rig.instrument->setCommandFault(CommandFault::None);
    rig.instrument->setStreamFault(StreamFault::None);
    rig.instrument->clearReplyOverrides();
    ThauptFenster& w = rig.window();
    QVERIFY(w.button(Button::SingleShoot)->isEnabled());
    const auto before = storedRows(rig);
    const qsizetype messages = rig.dialogs.messages.size();
    StatusLog log(w);
    QTest::mouseClick(w.button(Button::SingleShoot), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages.size(), messages);
    const auto after = storedRows(rig);
    QCOMPARE(after.size(), before.size() + 1);
    QVERIFY(sameRows(before, after, before.size()));
    QVERIFY(after.back().timeMs >= kClock);
    QCOMPARE(w.listView()->model()->rowCount(), static_cast<int>(after.size()));
    QVERIFY2(log.saw(QStringLiteral("Data from Device received")), qPrintable(log.all()));
}

void verifyMessage(Rig& rig, const QString& text, const QString& caption) {
    QVERIFY(!rig.dialogs.messages.isEmpty());
    const auto& last = rig.dialogs.messages.last();
    QCOMPARE(last.text, text);
    QCOMPARE(last.caption, caption);
}

int shownCount(ThauptFenster& w) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d+) data sets received$"));
    const auto match = pattern.match(w.statusText());
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// Every stored row of a stream sampled with SampleRate 0 is one of the
// instrument's records, copied unchanged: none is torn or shifted.
void verifyStreamRows(const std::vector<SampleRow>& rows, std::size_t from) {
    for (std::size_t i = from; i < rows.size(); ++i) {
        const double index = rows[i].timeMs - kClock;
        QVERIFY2(index >= 0 && index < 1e7, qPrintable(QString::number(i)));
        const auto record = static_cast<uint64_t>(index);
        for (int c = 0; c < 4; ++c)
            QCOMPARE(rows[i].channel[c], Instrument::recordValue(record, c + 1));
        QCOMPARE(rows[i].deviceFlag, static_cast<uint8_t>(record % 256));
    }
}

}  // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void refusedConnections();
    void instrumentThatNeverAnswers();
    void replyWithoutEndMark();
    void connectionClosedMidReply();
    void oversizedReplyIsCapped();
    void replyThatNeverEnds();
    void stalledStream();
    void streamClosesAndComesBack();
    void instrumentVanishesDuringBatchToList();
    void instrumentVanishesDuringBatchToFile();
    void batchReadoutsThatHangOrAreCancelled();
    void failedStopKeepsTheOtherWritersAway();
};

void TestFaults::refusedConnections() {
    Rig rig(true, fixedClock());
    ThauptFenster& w = startWithShots(rig, 3);
    const auto before = storedRows(rig);

    rig.instrument->setCommandFault(CommandFault::RefuseConnections);
    const QString failed = QStringLiteral("Connection to Device failed");
    StatusLog log(w);
    QVERIFY(timedClick(w.button(Button::SingleShoot)) < kSlackMs);
    QVERIFY2(log.saw(failed), qPrintable(log.all()));
    // The readouts stop at their first connection.
    log.clear();
    QVERIFY(timedTrigger(w, w.action(MenuItem::BatchToList)) < kSlackMs);
    QVERIFY2(log.saw(failed), qPrintable(log.all()));
    const QString batchFile = rig.folder() + QStringLiteral("/batch.txt");
    rig.dialogs.fileAnswers << batchFile;
    log.clear();
    QVERIFY(timedTrigger(w, w.action(MenuItem::BatchToFile)) < kSlackMs);
    QVERIFY(!QFile::exists(batchFile));
    QVERIFY2(log.saw(failed), qPrintable(log.all()));
    QVERIFY(!log.saw(QStringLiteral("Connection to Device terminated")));

    // Nothing but the status: no box, nothing stored, the list as it was.
    QVERIFY(rig.dialogs.messages.isEmpty());
    QVERIFY(sameRows(before, storedRows(rig), before.size()));
    QCOMPARE(storedRows(rig).size(), before.size());
    QCOMPARE(w.listView()->model()->rowCount(), 3);
    QVERIFY(eventLoopResponds());
    verifyRecovers(rig);
}

void TestFaults::instrumentThatNeverAnswers() {
    Rig rig(true, fixedClock());
    ThauptFenster& w = startWithShots(rig, 2);
    const auto before = storedRows(rig);

    rig.instrument->setCommandFault(CommandFault::NoReply);
    StatusLog log(w);
    // The exchange gives up at the receive time-out, not later.
    const qint64 held = timedClick(w.button(Button::SingleShoot));
    QVERIFY2(held >= kTimeoutMs, qPrintable(QString::number(held)));
    QVERIFY2(held < kReplyWaitMs + kTimeoutMs + kSlackMs, qPrintable(QString::number(held)));
    QCOMPARE(rig.dialogs.messages.size(), 1);
    verifyMessage(rig, QStringLiteral("MVal"), QStringLiteral("Error"));
    QCOMPARE(rig.dialogs.messages.last().icon, QMessageBox::Critical);
    // Connected and closed again, but nothing received.
    QVERIFY2(log.saw(QStringLiteral("Connection to Device terminated")), qPrintable(log.all()));
    QVERIFY(!log.saw(QStringLiteral("Data from Device received")));

    // The batch readout's count query times out the same way and stops,
    // without a box: the instrument sent nothing at all.
    const qint64 batchHeld = timedTrigger(w, w.action(MenuItem::BatchToList));
    QVERIFY2(batchHeld < kReplyWaitMs + kTimeoutMs + kSlackMs,
             qPrintable(QString::number(batchHeld)));
    QCOMPARE(rig.dialogs.messages.size(), 1);

    QCOMPARE(storedRows(rig).size(), before.size());
    QVERIFY(sameRows(before, storedRows(rig), before.size()));
    QCOMPARE(w.listView()->model()->rowCount(), 2);
    QVERIFY(eventLoopResponds());
    verifyRecovers(rig);
}

void TestFaults::replyWithoutEndMark() {
    Rig rig(true, fixedClock());
    ThauptFenster& w = startWithShots(rig, 2);
    const auto before = storedRows(rig);

    // The reply text is complete; only its end is found by the time-out, and
    // the text collected by then is the sample.
    rig.instrument->setCommandFault(CommandFault::NoEndMark);
    StatusLog log(w);
    const qint64 held = timedClick(w.button(Button::SingleShoot));
    QVERIFY2(held >= kTimeoutMs, qPrintable(QString::number(held)));
    QVERIFY2(held < kReplyWaitMs + kTimeoutMs + kSlackMs, qPrintable(QString::number(held)));
    QVERIFY(rig.dialogs.messages.isEmpty());
    const auto after = storedRows(rig);
    QCOMPARE(after.size(), before.size() + 1);
    QVERIFY(sameRows(before, after, before.size()));
    QVERIFY(after.back().timeMs >= kClock);
    QCOMPARE(after.back().channel[2], 0.0);  // "N.C.  "
    QVERIFY(after.back().channel[0] != 0.0);
    // The end mark was never seen, so the link does not say it received.
    QVERIFY2(log.saw(QStringLiteral("Connection to Device terminated")), qPrintable(log.all()));
    QVERIFY(!log.saw(QStringLiteral("Data from Device received")));
    verifyRecovers(rig);
}

void TestFaults::connectionClosedMidReply() {
    Rig rig(true, fixedClock());
    ThauptFenster& w = startWithShots(rig, 2);
    const auto before = storedRows(rig);

    // Half of this text arrives: "#X0012.5|25.25|N.C.  |" (22 of 44 bytes).
    rig.instrument->overrideReply("#X00", "#X0012.5|25.25|N.C.  |47.125|1700000000000|");
    rig.instrument->setCommandFault(CommandFault::CloseMidReply);
    StatusLog log(w);
    // A closed connection ends the exchange, not the time-out, which is out
    // of reach here. The reply was cut before its end mark: a failed
    // exchange, not a sample with the missing fields zero.
    rig.values.socketTimeoutMs = static_cast<int32_t>(tarvelo::guitest::kNotReachedMs.count());
    const qint64 held = timedClick(w.button(Button::SingleShoot));
    QVERIFY2(held < tarvelo::guitest::kHungMs.count(), qPrintable(QString::number(held)));
    QVERIFY2(log.saw(QStringLiteral("Connection to Device terminated")), qPrintable(log.all()));
    QVERIFY(!log.saw(QStringLiteral("Data from Device received")));
    QCOMPARE(rig.dialogs.messages.size(), 1);
    verifyMessage(rig, QStringLiteral("MVal"), QStringLiteral("Error"));
    const auto after = storedRows(rig);
    QCOMPARE(after.size(), before.size());
    QVERIFY(sameRows(before, after, before.size()));

    // Cut inside the echo: an error, nothing stored.
    rig.instrument->overrideReply("#X00", "#X00|");
    QTest::mouseClick(w.button(Button::SingleShoot), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages.size(), 2);
    verifyMessage(rig, QStringLiteral("MVal"), QStringLiteral("Error"));
    QCOMPARE(storedRows(rig).size(), after.size());
    verifyRecovers(rig);
}

void TestFaults::oversizedReplyIsCapped() {
    Rig rig(true, fixedClock());
    ThauptFenster& w = startWithShots(rig, 2);
    const auto before = storedRows(rig);

    rig.instrument->setOversizeBytes(1 << 20);
    rig.instrument->setCommandFault(CommandFault::OversizedReply);

    // The program's own link keeps no more than its cap of the reply.
    auto& link = w.link();
    QCOMPARE(link.ConnectServer(), 0);
    const std::string reply = link.SendReceive("#X00");
    link.DisconnectServer();
    QCOMPARE(reply.size(), tarvelo::device::kMaxReplyLength);
    QCOMPARE(reply.substr(0, 6), std::string("#X00xx"));
    QVERIFY(rig.dialogs.messages.isEmpty());

    // The single shot reads the first 255 characters after the echo: no
    // field separator, so a row of zeros, as for a bare "#X00".
    const qint64 held = timedClick(w.button(Button::SingleShoot));
    QVERIFY2(held < kReplyWaitMs + kTimeoutMs + kSlackMs, qPrintable(QString::number(held)));
    QVERIFY(rig.dialogs.messages.isEmpty());
    const auto after = storedRows(rig);
    QCOMPARE(after.size(), before.size() + 1);
    QVERIFY(sameRows(before, after, before.size()));
    QCOMPARE(after.back().timeMs, 0.0);
    // The batch count query with a 1 MiB reply: "xxx" is no number, so 0.
    QVERIFY(timedTrigger(w, w.action(MenuItem::BatchToList)) <
            4 * (kReplyWaitMs + kTimeoutMs) + kSlackMs);
    QVERIFY(eventLoopResponds());
    verifyRecovers(rig);
}

namespace {

// A peer on 127.0.0.1 that answers a command with text that never ends: a
// few bytes every 20 ms and never the end mark, each chunk well within the
// receive time-out. It gives up after a minute or when the program closes.
class Babbler {
public:
    Babbler() {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listenFd_ < 0 ||
            ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listenFd_, 4) != 0 ||
            ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            std::abort();
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~Babbler() {
        quit_ = true;
        thread_.join();
        ::close(listenFd_);
    }
    uint16_t port() const { return port_; }
    bool gaveUp() const { return gaveUp_; }

private:
    void run() {
        pollfd waiting{listenFd_, POLLIN, 0};
        while (!quit_ && ::poll(&waiting, 1, 20) <= 0) {
        }
        if (quit_)
            return;
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        char command[64];
        ::recv(fd, command, sizeof command, 0);
        const std::string start = "#X00";
        ::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
        const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        const std::string more = "1.25|";
        while (!quit_ && ::send(fd, more.data(), more.size(), MSG_NOSIGNAL) > 0) {
            if (std::chrono::steady_clock::now() > end) {
                gaveUp_ = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::close(fd);
    }

    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> quit_{false};
    std::atomic<bool> gaveUp_{false};
    std::thread thread_;
};

}  // namespace

void TestFaults::replyThatNeverEnds() {
    Rig rig(true, fixedClock());
    ThauptFenster& w = startWithShots(rig, 2);
    const auto before = storedRows(rig);

    // The next connect goes to the babbler, as after a change in the setup.
    Babbler babbler;
    rig.values.settings.port = babbler.port();
    const qint64 held = timedClick(w.button(Button::SingleShoot));
    rig.values.settings.port = rig.port();
    const auto limit = tarvelo::device::LinkTiming{}.replyLimit.count();
    QVERIFY2(held < kReplyWaitMs + limit + kTimeoutMs + kSlackMs,
             qPrintable(QString::number(held)));
    QVERIFY(!babbler.gaveUp());
    QVERIFY(eventLoopResponds());

    // What had arrived by then is the reply; the samples before are kept.
    QVERIFY(rig.dialogs.messages.isEmpty());
    const auto after = storedRows(rig);
    QCOMPARE(after.size(), before.size() + 1);
    QVERIFY(sameRows(before, after, before.size()));
    QCOMPARE(after.back().channel[0], 1.25);
    verifyRecovers(rig);
}

void TestFaults::stalledStream() {
    Rig rig(true, fixedClock());
    ThauptFenster& w = startWithShots(rig, 2, {QStringLiteral("SampleRate=0")});
    QTRY_VERIFY(w.samplingThread()->connected());

    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QVERIFY(w.sampling());
    QTRY_VERIFY_WITH_TIMEOUT(rig.values.memory.RowCount() >= 50, tarvelo::guitest::kHungMs.count());

    rig.instrument->setStreamFault(StreamFault::Stall);
    // Once the records in flight are in, nothing more comes; the thread's
    // receive time-outs keep the count in the status bar current.
    QTRY_VERIFY_WITH_TIMEOUT(
        shownCount(w) == rig.values.memory.WritePosition() &&
            w.samplingThread()->recordsConsumed() == rig.instrument->recordsSent(),
        tarvelo::guitest::kHungMs.count());
    const auto held = storedRows(rig);
    QTest::qWait(static_cast<int>(kTimeoutMs + 500));
    QCOMPARE(storedRows(rig).size(), held.size());
    QCOMPARE(shownCount(w), static_cast<int>(held.size()));
    QVERIFY(eventLoopResponds());

    // A stop while the command port refuses as well is carried out all the
    // same: the send fails with its box, and once the stream has stayed
    // quiet for a second the list is rebuilt from the memory as it was.
    rig.instrument->setCommandFault(CommandFault::RefuseConnections);
    StatusLog log(w);
    QVERIFY(timedClick(w.button(Button::StartStopTransfer)) < kReplyWaitMs + kTimeoutMs + kSlackMs);
    QVERIFY(!w.sampling());
    QVERIFY2(log.saw(QStringLiteral("Connection to Device failed")), qPrintable(log.all()));
    QCOMPARE(rig.dialogs.messages.size(), 1);
    verifyMessage(rig, QStringLiteral("Send error"), QString());
    QTRY_VERIFY_WITH_TIMEOUT(!w.waitingForQuietStream(), tarvelo::guitest::kHungMs.count());
    QVERIFY(w.button(Button::LoadFromFile)->isEnabled());
    const auto after = storedRows(rig);
    QVERIFY(sameRows(held, after, held.size()));
    QCOMPARE(after.size(), held.size());
    QCOMPARE(w.listView()->model()->rowCount(), static_cast<int>(after.size()));
    verifyStreamRows(after, 2);

    // The instrument never heard the stop; with the port back, a start and a
    // stop end its stream.
    QVERIFY(rig.instrument->streaming());
    rig.instrument->setCommandFault(CommandFault::None);
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QVERIFY(!rig.instrument->streaming());
    QCOMPARE(rig.dialogs.messages.size(), 1);
    verifyRecovers(rig);
}

void TestFaults::streamClosesAndComesBack() {
    Rig rig(true, fixedClock());
    ThauptFenster& w = startWithShots(rig, 2, {QStringLiteral("SampleRate=0")});
    QTRY_VERIFY(w.samplingThread()->connected());
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(rig.values.memory.RowCount() >= 100,
                             tarvelo::guitest::kHungMs.count());

    // Closed in the middle of the stream, and again at every reconnect.
    rig.instrument->setStreamFault(StreamFault::CloseStream);
    QTRY_VERIFY(!w.samplingThread()->connected());
    const auto beforeGap = storedRows(rig);
    const int connects = w.samplingThread()->streamConnects();
    QTRY_VERIFY_WITH_TIMEOUT(w.samplingThread()->streamConnects() > connects,
                             tarvelo::guitest::kHungMs.count());
    QCOMPARE(storedRows(rig).size(), beforeGap.size());
    QVERIFY(eventLoopResponds());

    rig.instrument->setStreamFault(StreamFault::None);
    QTRY_VERIFY_WITH_TIMEOUT(
        rig.values.memory.RowCount() >= static_cast<int>(beforeGap.size()) + 100,
        tarvelo::guitest::kHungMs.count());
    QVERIFY(timedClick(w.button(Button::StartStopTransfer)) < kReplyWaitMs + kTimeoutMs + kSlackMs);
    QVERIFY(rig.dialogs.messages.isEmpty());
    QTRY_VERIFY(!rig.instrument->streaming());
    const auto after = storedRows(rig);
    QVERIFY(sameRows(beforeGap, after, beforeGap.size()));
    // Whatever was in flight when the connection broke, no torn record
    // reaches the memory after the reconnect.
    verifyStreamRows(after, 2);
    // The stream was asked for again, and the status bar says it was cut.
    QVERIFY(w.samplingThread()->streamRestarts() >= 1);
    QVERIFY2(
        w.streamNoteLabel()->text().startsWith(QStringLiteral("The data stream was interrupted; ")),
        qPrintable(w.streamNoteLabel()->text()));
    // The note follows a change of language.
    const int language = rig.values.settings.language.load();
    rig.values.settings.language = 0;
    w.ApplyLanguage();
    QVERIFY2(
        w.streamNoteLabel()->text().startsWith(QStringLiteral("Der Datenstrom war unterbrochen; ")),
        qPrintable(w.streamNoteLabel()->text()));
    rig.values.settings.language = language;
    w.ApplyLanguage();
    verifyRecovers(rig);
}

namespace {

// Stops the instrument once it has answered `commands` commands, from a
// thread of its own: the readout holds the window's thread meanwhile.
class Vanisher {
public:
    Vanisher(Instrument& instrument, uint64_t commands)
        : thread_([&instrument, commands, this] {
              while (!quit_ && instrument.commandsReceived() < commands)
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              if (!quit_)
                  instrument.stop();
          }) {}
    ~Vanisher() {
        quit_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

// The instrument comes back on the same port.
void bringBack(Rig& rig) {
    auto config = fixedClock();
    config.port = rig.port();
    rig.instrument = std::make_unique<Instrument>(config);
    QVERIFY(rig.instrument->start());
}

}  // namespace

void TestFaults::instrumentVanishesDuringBatchToList() {
    Rig rig(true, fixedClock(40));
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    takeShots(rig, 3);
    const auto before = storedRows(rig);

    // "#M01", then two queries per record: gone while record 5 is read.
    const uint64_t start = rig.instrument->commandsReceived();
    StatusLog log(w);
    {
        Vanisher vanisher(*rig.instrument, start + 1 + 2 * 5);
        const qint64 held = timedTrigger(w, w.action(MenuItem::BatchToList));
        QVERIFY2(held < 8 * 2 * (kReplyWaitMs + kTimeoutMs) + kSlackMs,
                 qPrintable(QString::number(held)));
    }
    QVERIFY2(log.saw(QStringLiteral("Connection to Device failed")), qPrintable(log.all()));
    QVERIFY(eventLoopResponds());
    // The exchange the instrument dropped may report its empty reply; the
    // operator is told how far the readout came and that the rows stay.
    QVERIFY(rig.dialogs.messages.size() <= 2);
    QCOMPARE(rig.dialogs.messages.last().caption, QStringLiteral("Error"));

    // The samples held before are untouched; the records read before the
    // instrument went are there, and no made-up rows for the 35 others.
    const auto after = storedRows(rig);
    QVERIFY(sameRows(before, after, before.size()));
    QVERIFY(after.size() >= before.size() + 5);
    QVERIFY2(after.size() <= before.size() + 7, qPrintable(QString::number(after.size())));
    for (std::size_t i = before.size(); i < before.size() + 5; ++i)
        QVERIFY(after[i].channel[0] != 0.0 && after[i].timeMs != 0.0);
    QCOMPARE(w.listView()->model()->rowCount(), static_cast<int>(after.size()));
    QCOMPARE(rig.dialogs.messages.last().text,
             QStringLiteral("The instrument can no longer be reached. %1 of 40 records were "
                            "read; the rows read so far were kept.")
                 .arg(after.size() - before.size()));

    bringBack(rig);
    verifyRecovers(rig);
}

void TestFaults::instrumentVanishesDuringBatchToFile() {
    Rig rig(true, fixedClock(30));
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    takeShots(rig, 2);
    const auto before = storedRows(rig);

    // The records read before the instrument went are written under the
    // chosen name, replacing an earlier file.
    const QString path = rig.folder() + QStringLiteral("/batch.txt");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("earlier readout\r\n");
    }
    // "#M01", then up to twelve queries per record: gone in record 2 or 3.
    const uint64_t start = rig.instrument->commandsReceived();
    StatusLog log(w);
    {
        Vanisher vanisher(*rig.instrument, start + 1 + 12 * 2);
        rig.dialogs.fileAnswers << path;
        w.action(MenuItem::BatchToFile)->trigger();
        QVERIFY(tarvelo::guitest::waitForBatch(w));
    }
    QVERIFY(eventLoopResponds());
    QVERIFY2(log.saw(QStringLiteral("Connection to Device failed")), qPrintable(log.all()));
    QVERIFY(rig.dialogs.messages.size() <= 2);
    QCOMPARE(rig.dialogs.messages.last().caption, QStringLiteral("Error"));
    QVERIFY(!rig.windows.gauge->isVisible());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    // The header, the records read whole, and nothing after the last line end.
    const int read = static_cast<int>(lines.size()) - 2;
    QVERIFY2(read >= 1 && read <= 3, qPrintable(QString::number(read)));
    QVERIFY(lines[0].startsWith("Nr.\tDate/Time"));
    QCOMPARE(lines.last(), QByteArray());
    for (int i = 1; i <= read; ++i)
        QVERIFY(lines[i].startsWith(QByteArray::number(i) + '\t'));
    QCOMPARE(rig.dialogs.messages.last().text,
             QStringLiteral("The instrument can no longer be reached. %1 of 30 records were read; "
                            "they are in %2.")
                 .arg(read)
                 .arg(QDir::toNativeSeparators(path)));
    // The file readout never touches the memory.
    QCOMPARE(storedRows(rig).size(), before.size());
    QVERIFY(sameRows(before, storedRows(rig), before.size()));

    bringBack(rig);
    verifyRecovers(rig);
}

namespace {

// Runs `what` once the instrument has answered `commands` commands, from a
// thread of its own (the readout runs on a thread of the window's).
class AfterCommands {
public:
    AfterCommands(Instrument& instrument, uint64_t commands, std::function<void()> what)
        : thread_([&instrument, commands, what = std::move(what), this] {
              while (!quit_ && instrument.commandsReceived() < commands)
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              if (!quit_)
                  what();
          }) {}
    ~AfterCommands() {
        quit_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

}  // namespace

// An instrument that stops answering shows no box per query: three silent
// queries end the readout as a lost instrument does. Cancel ends it with no
// further box. Either way the records read whole are kept, in the file under
// the chosen name or in the memory and the list.
void TestFaults::batchReadoutsThatHangOrAreCancelled() {
    Rig rig(true, fixedClock(30));
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    for (const bool toFile : {true, false}) {
        for (const bool hang : {true, false}) {
            const QString cell =
                QStringLiteral("%1, %2").arg(toFile ? "file" : "list", hang ? "hangs" : "cancel");
            rig.instrument->setCommandFault(CommandFault::None);
            rig.dialogs.messages.clear();
            const auto before = storedRows(rig);
            const QString path =
                rig.folder() + QStringLiteral("/%1.txt").arg(hang ? "hang" : "cancel");
            // Strikes in the third record.
            const uint64_t start = rig.instrument->commandsReceived();
            const uint64_t at = start + 1 + (toFile ? 12 : 2) * 2 + 1;
            {
                AfterCommands fault(*rig.instrument, at, [&rig, hang] {
                    if (hang)
                        rig.instrument->setCommandFault(CommandFault::NoReply);
                    else
                        QMetaObject::invokeMethod(rig.windows.gauge->cancelButton(), "click",
                                                  Qt::QueuedConnection);
                });
                if (toFile)
                    rig.dialogs.fileAnswers << path;
                w.action(toFile ? MenuItem::BatchToFile : MenuItem::BatchToList)->trigger();
                QVERIFY2(tarvelo::guitest::waitForBatch(w), qPrintable(cell));
            }
            QVERIFY(eventLoopResponds());
            // One box at most: how the readout ended (none for a cancelled
            // Batch to list, which keeps its rows as the operator asked).
            QCOMPARE(rig.dialogs.messages.size(), !toFile && !hang ? 0 : 1);
            if (toFile) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::ReadOnly));
                const QList<QByteArray> lines = file.readAll().split('\n');
                const int read = static_cast<int>(lines.size()) - 2;
                QVERIFY2(read == 2 || read == 3, qPrintable(cell + QString::number(read)));
                for (int i = 1; i <= read; ++i)
                    QVERIFY(lines[i].startsWith(QByteArray::number(i) + '\t'));
                QCOMPARE(rig.dialogs.messages.last().caption, QStringLiteral("Error"));
                QCOMPARE(rig.dialogs.messages.last().text,
                         (hang ? QStringLiteral("The instrument can no longer be reached. %1 of 30 "
                                                "records were read; they are in %2.")
                               : QStringLiteral("The readout was cancelled. %1 of 30 records were "
                                                "read; they are in %2."))
                             .arg(read)
                             .arg(QDir::toNativeSeparators(path)));
                QCOMPARE(storedRows(rig).size(), before.size());
            } else {
                // Whole records only: every appended row has its values and time.
                const auto after = storedRows(rig);
                QVERIFY(sameRows(before, after, before.size()));
                QVERIFY2(after.size() >= before.size() + 2 && after.size() <= before.size() + 3,
                         qPrintable(cell + QString::number(after.size() - before.size())));
                for (std::size_t i = before.size(); i < after.size(); ++i)
                    QVERIFY(!std::isnan(after[i].channel[0]) && !std::isnan(after[i].timeMs));
                QCOMPARE(w.listView()->model()->rowCount(), static_cast<int>(after.size()));
            }
        }
    }
    verifyRecovers(rig);
}

// A stop that cannot reach the instrument leaves it streaming: the sampling
// thread stays the memory's only writer until the records stop coming.
void TestFaults::failedStopKeepsTheOtherWritersAway() {
    Rig rig(true, fixedClock());
    ThauptFenster& w = startWithShots(rig, 1, {QStringLiteral("SampleRate=3")});
    QTRY_VERIFY(w.samplingThread()->connected());
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w.samplingThread()->samplesStored() >= 20,
                             tarvelo::guitest::kHungMs.count());

    rig.instrument->setCommandFault(CommandFault::RefuseConnections);
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QVERIFY(!w.sampling());
    QVERIFY(rig.instrument->streaming());
    const QList<QWidget*> writers{w.button(Button::LoadFromFile), w.button(Button::ClearList),
                                  w.button(Button::SaveToFile), w.button(Button::ExportData)};
    // Samples keep coming for well over the second: the writers stay away.
    const uint64_t stored = w.samplingThread()->samplesStored();
    QTRY_VERIFY_WITH_TIMEOUT(w.samplingThread()->samplesStored() >= stored + 150,
                             tarvelo::guitest::kHungMs.count());
    QVERIFY(w.waitingForQuietStream());
    for (QWidget* control : writers)
        QVERIFY(!control->isEnabled());
    QVERIFY(!w.action(MenuItem::LoadFromFile)->isEnabled());
    QVERIFY(!w.action(MenuItem::DeleteSampleData)->isEnabled());

    // The stream ends: a second later everything is enabled again, and the
    // list shows every sample stored.
    rig.instrument->setCommandFault(CommandFault::None);
    const int fd = tarvelo::device::connectTo("127.0.0.1", rig.port(), 1000, 1000);
    QVERIFY(fd >= 0);
    tarvelo::device::exchange(fd, "#L02", tarvelo::device::LinkTiming{});
    tarvelo::device::closeSocket(fd);
    QTRY_VERIFY_WITH_TIMEOUT(!w.waitingForQuietStream(), tarvelo::guitest::kHungMs.count());
    for (QWidget* control : writers)
        QVERIFY(control->isEnabled());
    QCOMPARE(w.listView()->model()->rowCount(), rig.values.memory.RowCount());
    QCOMPARE(static_cast<uint64_t>(rig.values.memory.RowCount()),
             1 + w.samplingThread()->samplesStored());
    verifyRecovers(rig);
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
