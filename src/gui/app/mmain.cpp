#include "app/mmain.h"

#include <algorithm>
#include <cerrno>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStatusBar>
#include <QStyle>
#include <QSvgRenderer>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QWindow>

#include "acquisition/batch_worker.h"
#include "acquisition/samplelistheader.h"
#include "acquisition/samplelistmodel.h"
#include "analysis/mgrafik.h"
#include "analysis/mstatistic.h"
#include "app/dialogs.h"
#include "app/helpkey.h"
#include "app/resources.h"
#include "app/mabout.h"
#include "app/minitconn.h"
#include "app/msetup.h"
#include "app/process_values.h"
#include "app/program_text.h"
#include "app/shown_text.h"
#include "app/settings.h"
#include "device/mlivetest.h"
#include "device/replies.h"
#include "files/record_writer.h"

namespace tarvelo::gui {

namespace {

using app::MenuItem;
using Button = ThauptFenster::Button;

const QColor kBrandColour(65, 120, 184);
constexpr int kClientWidth = 799;
constexpr int kClientHeight = 611;
constexpr int kStatusBarHeight = 19;
constexpr QSize kGlyphSize(24, 24);
constexpr int kErrorCaptionText = 34;  // UiText "Error"

struct ButtonPlace {
    const char* object;
    const char* caption;
    const char* glyph;
    int left;
    int width;
    int captionEntry;
};
// In the order of ThauptFenster::Button.
constexpr std::array<ButtonPlace, ThauptFenster::kButtonCount> kButtons{{
    {"SingleShoot", "Label4", "single", 8, 81, 13},
    {"ClearList", "Label1", "clear", 104, 81, 14},
    {"StartStopTransfer", "StartReceive", "startstop", 200, 81, 15},
    {"ExportData", "Label2", "export", 296, 81, 16},
    {"LoadFromFile", "Label7", "load", 392, 73, 17},
    {"SaveToFile", "Label5", "save", 480, 73, 18},
    {"Grafik", "Label3", "graph", 568, 73, 19},
    {"statistic", "Label8", "statistic", 656, 73, 20},
}};
constexpr int kButtonTop = 416;
constexpr int kButtonHeight = 33;
constexpr int kCaptionTop = 456;

QPixmap renderSvg(const QString& path, QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(path);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

// A glyph with its two images: normal and disabled.
QIcon glyphIcon(const char* name) {
    QIcon icon;
    const QString base = QStringLiteral(":/glyphs/") + QLatin1String(name);
    icon.addPixmap(renderSvg(base + QStringLiteral(".svg"), kGlyphSize), QIcon::Normal);
    icon.addPixmap(renderSvg(base + QStringLiteral("_disabled.svg"), kGlyphSize), QIcon::Disabled);
    return icon;
}

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

}  // namespace

ThauptFenster::ThauptFenster(app::ProcessValues& values, Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      values_(values),
      dialogs_(dialogs),
      link_(values.settings, values.socketTimeoutMs, this) {
    initResources();
    setObjectName(QStringLiteral("hauptFenster"));
    model_ = new SampleListModel(list_, this);
    createMenus();
    createControls();

    // The client area is fixed; the menu bar lies above it.
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(100);
    connect(timer1_, &QTimer::timeout, this, &ThauptFenster::Timer1Timer);
    timer1_->start();

    // Alt+S is the "&Samples" menu's mnemonic and the shortcut of
    // "&Start/Stop data sampling"; the shortcut must win (see eventFilter).
    qApp->installEventFilter(this);
}

ThauptFenster::~ThauptFenster() {
    if (qApp)
        qApp->removeEventFilter(this);
    shutdownWorkers();
    // The list view outlives list_ (children go in QWidget's destructor) and
    // would lay out its rows once more when hidden there.
    listView1_->setModel(nullptr);
}

void ThauptFenster::createMenus() {
    auto add = [this](QMenu* menu, MenuItem item, QKeySequence shortcut, auto handler) {
        QAction* action = menu->addAction(
            QString::fromUtf8(app::startCaption(item).data(), app::startCaption(item).size()));
        action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, handler);
        actions_[static_cast<int>(item)] = action;
        return action;
    };
    auto menu = [this](MenuItem item, const char* object) {
        QMenu* m = menuBar()->addMenu(
            QString::fromUtf8(app::startCaption(item).data(), app::startCaption(item).size()));
        m->setObjectName(QLatin1String(object));
        actions_[static_cast<int>(item)] = m->menuAction();
        return m;
    };

    QMenu* datei = menu(MenuItem::File, "Datei1");
    add(datei, MenuItem::Export, QKeySequence(Qt::CTRL | Qt::Key_E),
        &ThauptFenster::ExportDataClick);
    add(datei, MenuItem::LoadFromFile, QKeySequence(Qt::CTRL | Qt::Key_L),
        &ThauptFenster::LoadFromFileClick);
    add(datei, MenuItem::SaveToFile, QKeySequence(Qt::CTRL | Qt::Key_S),
        &ThauptFenster::SaveToFileClick);
    openRecording_ = datei->addAction(shownText(app::ProgramText::OpenRecordingMenu, 1));
    openRecording_->setObjectName(QStringLiteral("OpenRecording"));
    openRecording_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    openRecording_->setShortcutContext(Qt::WindowShortcut);
    connect(openRecording_, &QAction::triggered, this, &ThauptFenster::OpenRecordingClick);
    datei->addSeparator();
    // No shortcut: Ctrl+E belongs to "&Export data".
    add(datei, MenuItem::Setup, QKeySequence(), &ThauptFenster::Setup1Click);
    datei->addSeparator();
    add(datei, MenuItem::ExitProgram, QKeySequence(Qt::ALT | Qt::Key_X),
        &ThauptFenster::ProgrammEnde1Click);

    QMenu* samples = menu(MenuItem::Samples, "Samples1");
    add(samples, MenuItem::GetActualSample, QKeySequence(Qt::CTRL | Qt::Key_T),
        &ThauptFenster::SingleShootClick);
    add(samples, MenuItem::StartStopSampling, QKeySequence(Qt::ALT | Qt::Key_S),
        &ThauptFenster::StartStopTransferClick);
    // Runs the same clearing as the button of the same caption.
    add(samples, MenuItem::DeleteSampleData, QKeySequence(Qt::CTRL | Qt::Key_D),
        &ThauptFenster::ClearListClick);
    add(samples, MenuItem::ShowGraphic, QKeySequence(Qt::ALT | Qt::Key_G),
        &ThauptFenster::GrafikClick);
    add(samples, MenuItem::Statistic, QKeySequence(Qt::CTRL | Qt::Key_A),
        &ThauptFenster::statisticClick);
    add(samples, MenuItem::BatchToList, QKeySequence(), &ThauptFenster::Batchlesen1Click);
    add(samples, MenuItem::BatchToFile, QKeySequence(), &ThauptFenster::Batchtofile1Click);
    add(samples, MenuItem::RecordToFile, QKeySequence(Qt::CTRL | Qt::Key_R),
        &ThauptFenster::RecordToFileClick)
        ->setCheckable(true);

    QMenu* help = menu(MenuItem::Help, "N2");
    add(help, MenuItem::HelpFile, QKeySequence(Qt::Key_F1), &ThauptFenster::Hilfe1Click);
    add(help, MenuItem::Info, QKeySequence(), &ThauptFenster::N2Click);

    for (QAction* action : actions_)
        action->setShortcutContext(Qt::WindowShortcut);
}

void ThauptFenster::createControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    image1_ = new QLabel(client);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setGeometry(0, 0, 800, 65);
    image1_->setPixmap(renderSvg(QStringLiteral(":/banner.svg"), QSize(800, 65)));
    // The banner's subtitle is a text of the chosen language, drawn over
    // the picture.
    bannerSubtitle_ = new QLabel(client);
    bannerSubtitle_->setObjectName(QStringLiteral("BannerSubtitle"));
    bannerSubtitle_->setTextFormat(Qt::PlainText);
    QFont subtitleFont(QStringLiteral("Arial"));
    subtitleFont.setPixelSize(14);
    bannerSubtitle_->setFont(subtitleFont);
    setTextColour(bannerSubtitle_, QColor(0xdc, 0xe9, 0xf7));
    bannerSubtitle_->move(230, 43 - QFontMetrics(subtitleFont).ascent());

    listView1_ = new QTreeView(client);
    listView1_->setObjectName(QStringLiteral("ListView1"));
    listView1_->setGeometry(0, 64, 801, 345);
    listView1_->setRootIsDecorated(false);
    listView1_->setItemsExpandable(false);
    listView1_->setUniformRowHeights(true);
    listView1_->setAllColumnsShowFocus(true);
    listView1_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    listView1_->setSelectionBehavior(QAbstractItemView::SelectRows);
    listView1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A caption longer than its column (a long unit) keeps its beginning,
    // the channel's name; the whole caption is the column's tooltip.
    listView1_->setHeader(new SampleListHeader(listView1_));
    listView1_->setModel(model_);
    QHeaderView* header = listView1_->header();
    header->setMinimumSectionSize(1);
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    for (int column = 0; column < static_cast<int>(acquisition::kListColumns.size()); ++column)
        header->resizeSection(column, acquisition::kListColumns[column].width);
    // The time column is widened where this platform's font needs more room
    // for a full time stamp, so the milliseconds never hide behind "...".
    const int timeText = listView1_->fontMetrics().horizontalAdvance(
        QStringLiteral("00.00.0000 00.00.00.000"));
    const int timeMargin = 2 * listView1_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 12;
    header->resizeSection(1, std::max(acquisition::kListColumns[1].width, timeText + timeMargin));

    for (int i = 0; i < kButtonCount; ++i) {
        const ButtonPlace& place = kButtons[i];
        auto* button = new QToolButton(client);
        button->setObjectName(QLatin1String(place.object));
        button->setGeometry(place.left, kButtonTop, place.width, kButtonHeight);
        button->setIcon(glyphIcon(place.glyph));
        button->setIconSize(kGlyphSize);
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        buttons_[i] = button;

        auto* caption = new QLabel(client);
        caption->setObjectName(QLatin1String(place.caption));
        caption->setTextFormat(Qt::PlainText);
        caption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        caption->setWordWrap(true);
        caption->setGeometry(place.left - 4, kCaptionTop, place.width + 8, 30);
        captions_[i] = caption;
    }
    connect(button(Button::SingleShoot), &QToolButton::clicked, this,
            &ThauptFenster::SingleShootClick);
    connect(button(Button::ClearList), &QToolButton::clicked, this, &ThauptFenster::ClearListClick);
    connect(button(Button::StartStopTransfer), &QToolButton::clicked, this,
            &ThauptFenster::StartStopTransferClick);
    connect(button(Button::ExportData), &QToolButton::clicked, this,
            &ThauptFenster::ExportDataClick);
    connect(button(Button::LoadFromFile), &QToolButton::clicked, this,
            &ThauptFenster::LoadFromFileClick);
    connect(button(Button::SaveToFile), &QToolButton::clicked, this,
            &ThauptFenster::SaveToFileClick);
    connect(button(Button::Grafik), &QToolButton::clicked, this, &ThauptFenster::GrafikClick);
    connect(button(Button::statistic), &QToolButton::clicked, this, &ThauptFenster::statisticClick);

    label6_ = new QLabel(QStringLiteral("TARVELO II"), client);
    label6_->setObjectName(QStringLiteral("Label6"));
    QFont big(QStringLiteral("Arial"));
    big.setPixelSize(32);
    big.setBold(true);
    // Where Arial is missing the substitute may run wider; narrow it so the
    // name still ends before the "®".
    const int room = 784 - 576 - 2;
    const int natural = QFontMetrics(big).horizontalAdvance(label6_->text());
    if (natural > room)
        big.setStretch(std::max(50, room * 100 / natural));
    label6_->setFont(big);
    label6_->move(576, 488);
    label6_->adjustSize();

    label9_ = new QLabel(QStringLiteral("\u00ae"), client);
    label9_->setObjectName(QStringLiteral("Label9"));
    label9_->move(784, 488);
    label9_->adjustSize();

    statusText_ = new QLabel(this);
    statusText_->setObjectName(QStringLiteral("StatusBar1Text"));
    statusText_->setTextFormat(Qt::PlainText);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setFixedHeight(kStatusBarHeight);
    statusBar()->addWidget(statusText_, 1);
    // Notes that the count in the status text must not overwrite.
    streamNote_ = new QLabel(this);
    streamNote_->setObjectName(QStringLiteral("StreamNote"));
    streamNote_->setTextFormat(Qt::PlainText);
    statusBar()->addPermanentWidget(streamNote_);
    recordingSign_ = new QLabel(this);
    recordingSign_->setObjectName(QStringLiteral("RecordingSign"));
    recordingSign_->setTextFormat(Qt::PlainText);
    statusBar()->addPermanentWidget(recordingSign_);
    recordingSign_->hide();
}

void ThauptFenster::setConfigDialog(Tconfig* config) {
    config_ = config;
    if (config_)
        config_->setLanguageApplier([this] { applyLanguageEverywhere(); });
}

// --- start-up ---------------------------------------------------------------

void ThauptFenster::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void ThauptFenster::FormShow() {
    app::SettingsFile file(values_.settingsFilePath());
    app::readStartupSettings(file, values_.settings);
    setTextColour(label6_, kBrandColour);
    setTextColour(label9_, kBrandColour);
    values_.socketTimeoutMs = 1000;
    setWindowTitle(QStringLiteral("Tarvelo II"));
    ApplyLanguage();
    values_.memory.reset();

    // The sampling thread first, then the probe; both run at once.
    startSamplingThread();
    livetest_ =
        std::make_unique<device::Livetest>(values_.settings, values_.memory, values_.deviceReady,
                                           values_.workerTiming);
    livetest_->start();
}

void ThauptFenster::setAcquisitionControlsEnabled(bool enabled) {
    button(Button::StartStopTransfer)->setEnabled(enabled);
    button(Button::SingleShoot)->setEnabled(enabled);
    action(MenuItem::Export)->setEnabled(enabled);
    action(MenuItem::SaveToFile)->setEnabled(enabled);
    action(MenuItem::GetActualSample)->setEnabled(enabled);
    action(MenuItem::StartStopSampling)->setEnabled(enabled);
}

void ThauptFenster::Timer1Timer() {
    setAcquisitionControlsEnabled(false);
    button(Button::ExportData)->setEnabled(false);
    button(Button::SaveToFile)->setEnabled(false);
    if (!values_.deviceReady.load())
        return;

    timer1_->stop();
    state_ = StartupState::FirstContact;
    if (initConnection_)
        initConnection_->showPainted();
    if (link_.ConnectServer() != 0) {
        if (initConnection_)
            initConnection_->close();
        state_ = StartupState::Offline;
        return;
    }
    acquisition::UpdateChannelCaptions(link_, list_, values_.memory, values_.uiText);
    model_->captionsChanged();
    link_.DisconnectServer();
    if (initConnection_)
        initConnection_->close();
    // ExportData and SaveToFile stay disabled until samples arrive.
    setAcquisitionControlsEnabled(true);
    state_ = StartupState::Ready;
}

// --- texts -----------------------------------------------------------------

void ThauptFenster::ApplyLanguage() {
    const int language = values_.settings.language.load();
    values_.uiText.applyLanguage(language);
    for (int i = 0; i < app::kMenuItemCount; ++i) {
        if (const auto caption = app::menuCaption(language, static_cast<MenuItem>(i)))
            actions_[i]->setText(QString::fromUtf8(caption->data(), caption->size()));
    }
    list_.setPlainCaptions(values_.uiText);
    model_->captionsChanged();
    for (int i = 0; i < kButtonCount; ++i)
        captions_[i]->setText(QString::fromStdString(values_.uiText[kButtons[i].captionEntry]));
    // While sampling runs, the caption keeps offering the stop.
    if (sampling_)
        buttonCaption(Button::StartStopTransfer)
            ->setText(QString::fromStdString(values_.uiText[11]));
    if (recording())
        showRecordingSign(true);
    showStreamNote();
    qtTranslations_.apply(language);
    openRecording_->setText(shownText(app::ProgramText::OpenRecordingMenu, language));
    bannerSubtitle_->setText(shownText(app::ProgramText::BannerSubtitle, language));
    bannerSubtitle_->adjustSize();
}

void ThauptFenster::applyLanguageEverywhere() {
    ApplyLanguage();
    if (graphApplyLanguage_)
        graphApplyLanguage_();
}

void ThauptFenster::showStatus(int uiTextEntry) {
    setStatusText(QString::fromStdString(values_.uiText[uiTextEntry]));
}

void ThauptFenster::showSendError() {
    dialogs_.message(this, QString::fromLatin1(device::kSendError), QString(), QMessageBox::NoIcon,
                     QMessageBox::Ok);
}

void ThauptFenster::setStatusText(const QString& text) {
    statusText_->setText(text);
    // The device link blocks this thread; show the text before it does.
    if (statusText_->isVisible())
        statusText_->repaint();
}

QString ThauptFenster::statusText() const {
    return statusText_->text();
}

void ThauptFenster::setSaveExportEnabled(bool enabled) {
    button(Button::ExportData)->setEnabled(enabled);
    button(Button::SaveToFile)->setEnabled(enabled);
    action(MenuItem::Export)->setEnabled(enabled);
    action(MenuItem::SaveToFile)->setEnabled(enabled);
}

void ThauptFenster::setMemoryWritersEnabled(bool enabled) {
    button(Button::LoadFromFile)->setEnabled(enabled);
    button(Button::ClearList)->setEnabled(enabled);
    action(MenuItem::LoadFromFile)->setEnabled(enabled);
    action(MenuItem::DeleteSampleData)->setEnabled(enabled);
    action(MenuItem::BatchToList)->setEnabled(enabled);
}

// --- operations --------------------------------------------------------------

void ThauptFenster::SingleShootClick() {
    if (link_.ConnectServer() != 0)
        return;
    const std::string reply = link_.SendReceive(device::kCmdCurrentSample);
    const bool cut = link_.lastReplyCut();
    link_.DisconnectServer();
    // A reply cut before its end mark by a broken connection is a failed
    // exchange, not a sample with zeros dated 1970.
    const auto sample = cut ? std::nullopt : device::parseCurrentSample(reply);
    if (!sample) {
        dialogs_.message(this, QString::fromLatin1(device::kErrX00),
                         QString::fromLatin1(device::kErrorCaption), QMessageBox::Critical,
                         QMessageBox::Ok);
        return;
    }
    acquisition::SampleRow row{};
    for (int c = 0; c < 4; ++c)
        row.channel[c] = sample->channel[c];
    row.timeMs = sample->timeMs;
    row.deviceFlag = 0;
    values_.memory.AppendSample(row);
    setSaveExportEnabled(true);
    model_->addRow(row);
}

void ThauptFenster::ClearListClick() {
    // The sampling thread is the memory's one writer while sampling runs.
    if (sampling_ || waitingForQuietStream() || values_.memory.RowCount() == 0)
        return;
    const auto answer = dialogs_.message(this, QString::fromStdString(values_.uiText[27]),
                                         QString::fromStdString(values_.uiText[28]),
                                         QMessageBox::Question, QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    setSaveExportEnabled(false);
    values_.memory.clear();
    model_->clear();
}

void ThauptFenster::GrafikClick() {
    if (values_.memory.WritePosition() <= 0 || !graph_)
        return;
    graph_->showGraph();
}

void ThauptFenster::statisticClick() {
    if (values_.memory.WritePosition() <= 0 || !statWindow_)
        return;
    statWindow_->exec();
}

void ThauptFenster::Setup1Click() {
    if (!config_)
        return;
    if (config_->exec() != QDialog::Accepted)
        return;
    app::SettingsFile file(values_.settingsFilePath());
    const bool written = app::writeSetupSettings(file, values_.settings);
    const int reason = errno;
    ApplyLanguage();
    // The operator asked for the settings to be kept: a file that could not
    // be written (a read-only file, a full disk) is reported.
    if (!written) {
        const int language = values_.settings.language.load();
        const std::string_view text =
            app::programText(app::ProgramText::SettingsNotSaved, language);
        dialogs_.message(
            this,
            QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
                .arg(QDir::toNativeSeparators(QString::fromStdString(file.path())),
                     QString::fromStdString(app::systemErrorText(reason, language))),
            QString::fromStdString(values_.uiText[kErrorCaptionText]), QMessageBox::Critical,
            QMessageBox::Ok);
    }
}

void ThauptFenster::ProgrammEnde1Click() {
    close();
}

void ThauptFenster::Hilfe1Click() {
    // The Help item serves this window and those that share its menu keys
    // (graph, live values): the window in front decides the section.
    showHelp(QApplication::activeWindow() ? QApplication::activeWindow() : this);
}

void ThauptFenster::showHelp(const QWidget* from) {
    // German, English, French; Italian and any other language read the English manual.
    static const char* const kHelpFiles[] = {"hilfe.chm", "hilfe_e.chm", "hilfe_f.chm"};
    static const char* const kPages[] = {"manual_de.html", "manual_en.html", "manual_fr.html"};
    const int language = values_.settings.language.load();
    const bool listed = language >= 0 && language <= 2;

    // A compiled help file beside the executable wins; when nothing can show it, the manual's
    // page is the next best thing.
    if (listed) {
        const QString helpFile = QString::fromStdString(values_.programDirectory) +
                                 QLatin1Char('/') + QLatin1String(kHelpFiles[language]);
        if (QFileInfo(helpFile).isFile() && dialogs_.openUrl(QUrl::fromLocalFile(helpFile)))
            return;
    }
    const QString page = QString::fromStdString(values_.helpFolder()) + QLatin1Char('/') +
                         QLatin1String(kPages[listed ? language : 1]);
    const bool found = QFileInfo(page).isFile();
    QUrl url = QUrl::fromLocalFile(page);
    if (const QString section = helpSection(from); !section.isEmpty())
        url.setFragment(section);
    if (found && dialogs_.openUrl(url))
        return;
    auto text = [language](app::ProgramText id) { return shownText(id, language); };
    dialogs_.message(
        this,
        text(found ? app::ProgramText::HelpNoViewer : app::ProgramText::HelpPageMissing)
            .arg(QDir::toNativeSeparators(page)),
        text(app::ProgramText::HelpCaption), QMessageBox::Warning, QMessageBox::Ok);
}

void ThauptFenster::N2Click() {
    if (about_)
        about_->exec();
}

// --- keyboard and shutdown -----------------------------------------------------

bool ThauptFenster::belongsToThisWindow(QObject* object) const {
    if (auto* widget = qobject_cast<QWidget*>(object))
        return widget->window() == this;
    if (auto* window = qobject_cast<QWindow*>(object))
        return window == windowHandle();
    return false;
}

bool ThauptFenster::eventFilter(QObject* watched, QEvent* event) {
    // Qt treats the menu mnemonic Alt+S and the item shortcut Alt+S as an
    // ambiguous pair and runs neither. Claiming the key in ShortcutOverride
    // turns it into a plain key press, which then runs the item.
    const QEvent::Type type = event->type();
    if ((type == QEvent::ShortcutOverride || type == QEvent::KeyPress) &&
        belongsToThisWindow(watched)) {
        QAction* startStop = action(MenuItem::StartStopSampling);
        auto* key = static_cast<QKeyEvent*>(event);
        if (startStop->isEnabled() && !startStop->shortcut().isEmpty() &&
            QKeySequence(key->keyCombination()) == startStop->shortcut()) {
            if (type == QEvent::ShortcutOverride) {
                event->accept();
            } else {
                startStop->trigger();
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void ThauptFenster::shutdownWorkers() {
    // A batch readout ends after its exchange in progress; a recording
    // writes what it holds and closes its file.
    batch_.reset();
    stopRecording();
    // The sampling thread is woken wherever it waits (its sockets are shut
    // down) and joined, so that no thread runs while the program's objects
    // are destroyed; the join takes milliseconds, also during sampling.
    if (check_) {
        check_->shutdown();
        check_.reset();
    }
    if (livetest_) {
        livetest_->shutdown();
        livetest_.reset();  // joins: the probe must not outlive the window
    }
}

void ThauptFenster::closeEvent(QCloseEvent* event) {
    timer1_->stop();
    shutdownWorkers();
    event->accept();
}

}  // namespace tarvelo::gui
