// Saving and loading sample files and the three export targets, driven
// through the main window with real files in a temporary folder.

#include <functional>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include "acquisition/samplelistmodel.h"
#include "files/mexport.h"
#include "fixtures.h"
#include "support.h"

using tarvelo::acquisition::SampleRow;
using tarvelo::app::MenuItem;
using tarvelo::gui::TFormExport;
using tarvelo::gui::ThauptFenster;
using Button = ThauptFenster::Button;
using Choice = TFormExport::Choice;
using tarvelo::guitest::cellText;
using tarvelo::guitest::Rig;

using tarvelo::test::makeRow;

namespace {

// A sample as a single shot stores it. The window must be Ready: the
// start-up probe empties the memory when it starts.
void addSample(Rig& rig, const SampleRow& row) {
    rig.values.memory.AppendSample(row);
    rig.window().listModel()->addRow(row);
    rig.window().setSaveExportEnabled(true);
}

void addTwoSamples(Rig& rig) {
    addSample(rig, makeRow(1.5, 2.5, 0, 0, 999));
    addSample(rig, makeRow(-12.345, 1000, 0.000004, 3, 86400123));
}

QStringList listTexts(ThauptFenster& w) {
    QStringList texts;
    const int rows = w.listModel()->rowCount();
    for (int row = 0; row < rows; ++row)
        for (int column = 1; column < 6; ++column)
            texts << cellText(w, row, column);
    return texts;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray int32Bytes(qint32 value) {
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((static_cast<quint32>(value) >> (8 * i)) & 0xFF);
    return bytes;
}

// Answers the next showing of the export dialog: checks that it is modal and
// starts without a choice, picks `choice` (None: none) and presses OK or
// Cancel.
void answerExportDialog(TFormExport* form, Choice choice, bool ok, bool* seen) {
    *seen = false;
    QTimer::singleShot(0, form, [=] {
        *seen = QApplication::activeModalWidget() == form && form->isVisible();
        for (Choice c : {Choice::Spreadsheet, Choice::Clipboard, Choice::File})
            *seen = *seen && !form->choiceButton(c)->isChecked();
        *seen = *seen && form->okButton()->isDefault();
        if (choice != Choice::None)
            form->choiceButton(choice)->click();
        (ok ? form->okButton() : form->cancelButton())->click();
    });
}

void exportAs(Rig& rig, Choice choice) {
    bool seen = false;
    answerExportDialog(rig.windows.exportForm, choice, true, &seen);
    rig.window().ExportDataClick();
    QVERIFY2(seen, "the export dialog was not shown modally without a choice");
}

const QByteArray kHeaderLine =
    "\tTime\tChannel 1 (N)\tChannel 2 (mm)\tChannel 3 (N.C.)\tChannel 4 (\xB0"
    "C)\r\n";

}  // namespace

class TestFiles : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void saveClearLoadGivesTheSameList();
    void badFilesAreRejectedAndChangeNothing();
    void loadAsksBeforeReplacingAndNoAbandons();
    void failedSaveIsReportedAndKeepsTheOldFile();
    void saveDialogsRefuseAMissingFolderAndStayOpen();
    void realBatchDialogInFrench();
    void exportDialogOffersNoChoice();
    void exportToAscFile();
    void exportToClipboard();
    void exportToWorkbookReadBack();
};

void TestFiles::saveClearLoadGivesTheSameList() {
    Rig rig;
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    for (int i = 0; i < 3; ++i)
        w.SingleShootClick();
    QCOMPARE(w.listModel()->rowCount(), 3);
    const QStringList before = listTexts(w);
    std::vector<SampleRow> rows;
    for (int i = 0; i < 3; ++i)
        rows.push_back(rig.values.memory.row(i));

    const QString path = rig.folder() + QStringLiteral("/samples.dat");
    rig.dialogs.fileAnswers << path;
    w.SaveToFileClick();
    QCOMPARE(rig.dialogs.fileRequests.size(), 1);
    const tarvelo::gui::FileRequest save = rig.dialogs.fileRequests.takeFirst();
    QCOMPARE(save.title, QStringLiteral("Save data as..."));
    QCOMPARE(save.folder, rig.folder());
    QCOMPARE(save.filter, QStringLiteral("Data files (*.dat *.DAT)"));
    QCOMPARE(save.defaultSuffix, QStringLiteral("dat"));
    QVERIFY(save.confirmOverwrite);

    // "473.100", the count and the rows in the order of acquisition.
    const QByteArray bytes = readAll(path);
    QCOMPARE(bytes.size(), 11 + 3 * 48);
    QCOMPARE(bytes.left(11), QByteArray("473.100") + int32Bytes(3));
    QCOMPARE(bytes.mid(11), QByteArray(reinterpret_cast<const char*>(rows.data()), 3 * 48));

    rig.dialogs.answers << QMessageBox::Yes;
    w.ClearListClick();
    QCOMPARE(w.listModel()->rowCount(), 0);
    QVERIFY(!w.button(Button::SaveToFile)->isEnabled());

    rig.dialogs.fileAnswers << path;
    w.LoadFromFileClick();
    const tarvelo::gui::FileRequest load = rig.dialogs.fileRequests.takeFirst();
    QCOMPARE(load.title, QStringLiteral("Load data..."));
    QCOMPARE(load.folder, rig.folder());
    QCOMPARE(load.filter, save.filter);
    QCOMPARE(load.defaultSuffix, QStringLiteral("dat"));
    QCOMPARE(rig.dialogs.messages.size(), 1);  // only the clearing's question

    QCOMPARE(listTexts(w), before);
    QCOMPARE(rig.values.memory.WritePosition(), 3);
    QVERIFY(!rig.values.memory.Wrapped());
    for (int i = 0; i < 3; ++i)
        QCOMPARE(rig.values.memory.row(i).timeMs, rows[i].timeMs);
    for (Button b : {Button::SaveToFile, Button::ExportData})
        QVERIFY(w.button(b)->isEnabled());
    for (MenuItem item : {MenuItem::SaveToFile, MenuItem::Export})
        QVERIFY(w.action(item)->isEnabled());

    // Cancelling either dialog does nothing.
    w.SaveToFileClick();
    w.LoadFromFileClick();
    QCOMPARE(readAll(path), bytes);
    QCOMPARE(listTexts(w), before);
}

void TestFiles::badFilesAreRejectedAndChangeNothing() {
    Rig rig;
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    addTwoSamples(rig);
    const QStringList before = listTexts(w);

    const QByteArray row(48, '\x01');
    const struct {
        const char* name;
        QByteArray bytes;
    } bad[] = {
        {"magic", QByteArray("473.101") + int32Bytes(1) + row},
        {"negative", QByteArray("473.100") + int32Bytes(-1)},
        {"too many", QByteArray("473.100") + int32Bytes(10241) + row.repeated(10241)},
        {"short", QByteArray("473.100") + int32Bytes(3) + row.repeated(2)},
        {"no count", QByteArray("473.100")},
        {"empty", QByteArray()},
    };
    for (const auto& file : bad) {
        const QString path = rig.folder() + QStringLiteral("/bad.dat");
        writeBytes(path, file.bytes);
        rig.dialogs.messages.clear();
        rig.dialogs.fileAnswers << path;
        w.LoadFromFileClick();
        QVERIFY2(rig.dialogs.messages.size() == 1, file.name);
        const auto& message = rig.dialogs.messages.first();
        QCOMPARE(message.text, QStringLiteral("File format error"));
        QCOMPARE(message.caption, QStringLiteral("Error"));
        QCOMPARE(message.icon, QMessageBox::Critical);
        QVERIFY2(listTexts(w) == before, file.name);
        QCOMPARE(rig.values.memory.WritePosition(), 2);
    }

    // A file that cannot be read is reported with its reason.
    rig.dialogs.messages.clear();
    rig.dialogs.fileAnswers << rig.folder() + QStringLiteral("/missing.dat");
    w.LoadFromFileClick();
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QVERIFY(rig.dialogs.messages.first().text.contains(QStringLiteral("missing.dat")));
    QCOMPARE(listTexts(w), before);
}

void TestFiles::loadAsksBeforeReplacingAndNoAbandons() {
    Rig rig;
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();

    // A file of no rows into an empty memory clears nothing: no question,
    // and the File menu's Export and Save keep what the first contact gave.
    const QString empty = rig.folder() + QStringLiteral("/empty.dat");
    writeBytes(empty, QByteArray("473.100") + int32Bytes(0));
    rig.dialogs.fileAnswers << empty;
    w.LoadFromFileClick();
    QVERIFY(rig.dialogs.messages.isEmpty());
    for (MenuItem item : {MenuItem::SaveToFile, MenuItem::Export})
        QVERIFY(w.action(item)->isEnabled());

    // A file written by an earlier version: padding bytes that are not zero.
    SampleRow stored = makeRow(7, 8, 9, 10, 5000);
    std::memset(stored.padding, 0xAB, sizeof stored.padding);
    const QString path = rig.folder() + QStringLiteral("/one.DAT");
    writeBytes(path, QByteArray("473.100") + int32Bytes(1) +
                         QByteArray(reinterpret_cast<const char*>(&stored), 48));

    addTwoSamples(rig);
    const QStringList before = listTexts(w);
    rig.dialogs.answers << QMessageBox::No;
    rig.dialogs.fileAnswers << path;
    w.LoadFromFileClick();
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages.first().text,
             QStringLiteral("Should the measured value memory be deleted?"));
    QCOMPARE(rig.dialogs.messages.first().caption, QStringLiteral("Question?"));
    QCOMPARE(listTexts(w), before);
    QCOMPARE(rig.values.memory.WritePosition(), 2);

    rig.dialogs.answers << QMessageBox::Yes;
    rig.dialogs.fileAnswers << path;
    w.LoadFromFileClick();
    QCOMPARE(w.listModel()->rowCount(), 1);
    QCOMPARE(cellText(w, 0, 0), QStringLiteral("0"));  // the ring index
    QCOMPARE(cellText(w, 0, 5), QStringLiteral("10.00000"));
    QCOMPARE(rig.values.memory.WritePosition(), 1);

    // Saved again, the row comes back byte for byte, padding included.
    const QString again = rig.folder() + QStringLiteral("/again.dat");
    rig.dialogs.fileAnswers << again;
    w.SaveToFileClick();
    QCOMPARE(readAll(again), readAll(path));

    // Into a memory with samples, it empties the memory and leaves Save and
    // Export off.
    rig.dialogs.answers << QMessageBox::Yes;
    rig.dialogs.fileAnswers << empty;
    w.LoadFromFileClick();
    QCOMPARE(w.listModel()->rowCount(), 0);
    QCOMPARE(rig.values.memory.RowCount(), 0);
    QVERIFY(!w.button(Button::SaveToFile)->isEnabled());
    QVERIFY(!w.button(Button::ExportData)->isEnabled());
    for (MenuItem item : {MenuItem::SaveToFile, MenuItem::Export})
        QVERIFY(!w.action(item)->isEnabled());
}

void TestFiles::failedSaveIsReportedAndKeepsTheOldFile() {
    Rig rig;
    rig.writeSettings({QStringLiteral("Language=0")});
    ThauptFenster& w = rig.startReady();
    addTwoSamples(rig);

    // The box names the file the operator chose and gives the reason in the
    // program's language: a read-only file (not replaced, also for root)
    // and a folder in the file's place.
    const QString readOnly = rig.folder() + QStringLiteral("/kept.dat");
    writeBytes(readOnly, "old");
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    const QString target = rig.folder() + QStringLiteral("/taken.dat");
    QVERIFY(QDir().mkdir(target));
    const struct {
        QString path;
        QString reason;
    } failures[] = {{readOnly, QStringLiteral("Keine Berechtigung")},
                    {target, QStringLiteral("Ist ein Verzeichnis")}};
    for (const auto& failure : failures) {
        rig.dialogs.messages.clear();
        rig.dialogs.fileAnswers << failure.path;
        w.SaveToFileClick();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages.first().text,
                 QStringLiteral("Die Datei konnte nicht gespeichert werden.\n") + failure.path +
                     QStringLiteral(": ") + failure.reason);
        QCOMPARE(rig.dialogs.messages.first().caption, QStringLiteral("Error"));
        QCOMPARE(rig.dialogs.messages.first().icon, QMessageBox::Critical);
    }
    QCOMPARE(readAll(readOnly), QByteArray("old"));
    QVERIFY(QFileInfo(target).isDir());
    QCOMPARE(QDir(rig.folder()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{QStringLiteral("473config.ini"), QStringLiteral("kept.dat")}));
}

// Every save dialog refuses a folder that does not exist with a box in the
// program's language and stays open: the next answer is saved.
void TestFiles::saveDialogsRefuseAMissingFolderAndStayOpen() {
    Rig rig;
    rig.writeSettings({QStringLiteral("Language=2")});
    ThauptFenster& w = rig.startReady();
    addTwoSamples(rig);

    const QString missing = rig.folder() + QStringLiteral("/gone");
    const struct {
        const char* name;
        std::function<void()> save;
    } saves[] = {
        {"x.dat", [&] { w.SaveToFileClick(); }},
        {"x.asc", [&] { exportAs(rig, Choice::File); }},
        {"x.xlsx", [&] { exportAs(rig, Choice::Spreadsheet); }},
    };
    for (const auto& save : saves) {
        rig.dialogs.messages.clear();
        rig.dialogs.fileRequests.clear();
        const QString chosen = rig.folder() + QLatin1Char('/') + QLatin1String(save.name);
        rig.dialogs.fileAnswers << missing + QLatin1Char('/') + QLatin1String(save.name) << chosen;
        save.save();
        QVERIFY2(rig.dialogs.fileRequests.size() == 1, save.name);
        QVERIFY2(rig.dialogs.messages.size() == 1, save.name);
        QCOMPARE(rig.dialogs.messages.first().text,
                 QStringLiteral("Le dossier n'existe pas :\n") + missing);
        QCOMPARE(rig.dialogs.messages.first().caption, QStringLiteral("Erreur"));
        QVERIFY2(QFileInfo(chosen).isFile(), save.name);
    }
    QVERIFY(!QFileInfo::exists(missing));
}

// The request of "Batch to file" in French, shown by the real file dialog:
// the title the language leaves empty stays empty (not the toolkit's "Save
// As"); a name in a missing folder brings the French box and the dialog
// stays open for the next name.
void TestFiles::realBatchDialogInFrench() {
    Rig rig(false);
    rig.writeSettings({QStringLiteral("Language=2")});
    ThauptFenster& w = rig.start();
    w.Batchtofile1Click();  // cancelled at once
    QCOMPARE(rig.dialogs.fileRequests.size(), 1);
    const tarvelo::gui::FileRequest request = rig.dialogs.fileRequests.first();

    const QString missing = rig.folder() + QStringLiteral("/gone/batch.txt");
    const QString chosen = rig.folder() + QStringLiteral("/batch.txt");
    QString title = QStringLiteral("(not shown)");
    QString boxText;
    bool stayedOpen = false;
    int step = 0;
    // Answers the dialog and its box as the operator would, one step a tick.
    QTimer driver;
    driver.setInterval(10);
    connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* fileDialog = qobject_cast<QFileDialog*>(modal);
        auto type = [&](const QString& path) {
            auto* name = fileDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(path);
            QMetaObject::invokeMethod(fileDialog, "accept", Qt::QueuedConnection);
        };
        if (step == 0 && fileDialog) {
            title = fileDialog->windowTitle();
            step = 1;
            type(missing);
        } else if (step == 1) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                boxText = box->text() + QLatin1Char('|') + box->windowTitle();
                step = 2;
                box->accept();
            }
        } else if (step == 2 && fileDialog) {
            stayedOpen = fileDialog->isVisible();
            step = 3;
            type(chosen);
        }
    });
    driver.start();
    const QString answer = tarvelo::gui::StandardDialogs().saveFileName(&w, request);
    driver.stop();
    QCOMPARE(title, QString());
    QCOMPARE(boxText, QStringLiteral("Le dossier n'existe pas :\n") + rig.folder() +
                          QStringLiteral("/gone|Erreur"));
    QVERIFY(stayedOpen);
    QCOMPARE(answer, chosen);
}

void TestFiles::exportDialogOffersNoChoice() {
    Rig rig;
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    addTwoSamples(rig);
    TFormExport* form = rig.windows.exportForm;
    QVERIFY(form);
    QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));

    // OK without a choice, and Cancel after a choice, do nothing.
    bool seen = false;
    answerExportDialog(form, Choice::None, true, &seen);
    w.ExportDataClick();
    QVERIFY(seen);
    answerExportDialog(form, Choice::Clipboard, false, &seen);
    w.ExportDataClick();
    QVERIFY(seen);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("untouched"));
    QVERIFY(rig.dialogs.fileRequests.isEmpty());
    QVERIFY(rig.dialogs.urls.isEmpty());

    // The choice made before is gone at the next showing (checked by
    // answerExportDialog); the texts follow the language.
    QCOMPARE(form->windowTitle(), QStringLiteral("Export data"));
    QCOMPARE(form->choiceButton(Choice::Spreadsheet)->text(), QStringLiteral("Excel (OLE)"));
    QCOMPARE(form->choiceButton(Choice::Clipboard)->text(), QStringLiteral("Clipboard"));
    QCOMPARE(form->choiceButton(Choice::File)->text(), QStringLiteral("File"));

    rig.values.settings.language = 0;
    w.ApplyLanguage();
    answerExportDialog(form, Choice::None, false, &seen);
    w.ExportDataClick();
    QCOMPARE(form->windowTitle(), QStringLiteral("Daten exportieren"));
    QCOMPARE(form->choiceButton(Choice::Clipboard)->text(), QStringLiteral("Zwischenablage"));
}

void TestFiles::exportToAscFile() {
    Rig rig;
    rig.writeSettings();
    rig.startReady();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    addTwoSamples(rig);

    const QString path = rig.folder() + QStringLiteral("/export.asc");
    writeBytes(path, "an older export that is replaced whole");
    rig.dialogs.fileAnswers << path;
    exportAs(rig, Choice::File);
    QCOMPARE(rig.dialogs.fileRequests.size(), 1);
    const tarvelo::gui::FileRequest request = rig.dialogs.fileRequests.first();
    QVERIFY(request.title.isEmpty());
    QCOMPARE(request.folder, rig.folder());
    QCOMPARE(request.filter, QStringLiteral("ASCII-Datei (*.asc)"));
    QCOMPARE(request.defaultSuffix, QStringLiteral("asc"));
    QVERIFY(!request.confirmOverwrite);

    // Windows-1252 (the degree sign is one byte), the decimal comma of the
    // regional settings, a tab after every value, CR LF after every line.
    QCOMPARE(readAll(path),
             kHeaderLine +
                 "1\t01.01.1970 00.00.00.999\t1,50000\t2,50000\t0,00000\t0,00000\t\r\n"
                 "2\t02.01.1970 00.00.00.123\t-12,34500\t1000,00000\t0,00000\t"
                 "3,00000\t\r\n");

    // A cancelled file dialog writes nothing.
    writeBytes(path, "kept");
    exportAs(rig, Choice::File);
    QCOMPARE(readAll(path), QByteArray("kept"));
}

void TestFiles::exportToClipboard() {
    Rig rig;
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    addTwoSamples(rig);
    addSample(rig, makeRow(0.125, 0, 0, 1, 1000));

    exportAs(rig, Choice::Clipboard);
    const QString text = QGuiApplication::clipboard()->text();
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 5);  // four lines and the empty rest after the last CR LF
    QVERIFY(lines.last().isEmpty());
    QCOMPARE(lines[0] + QStringLiteral("\r\n"), QString::fromLatin1(kHeaderLine));
    QCOMPARE(lines[1],
             QStringLiteral("1\t01.01.1970 00.00.00.999\t1.50000\t2.50000\t0.00000\t0.00000\t"));
    QVERIFY(lines[3].startsWith(QStringLiteral("3\t01.01.1970 00.00.01.000\t0.12500\t")));
    QVERIFY(rig.dialogs.fileRequests.isEmpty());

    // The memory, not the list, is exported: after a clearing the text is
    // the header alone.
    rig.dialogs.answers << QMessageBox::Yes;
    w.ClearListClick();
    exportAs(rig, Choice::Clipboard);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1(kHeaderLine));
}

void TestFiles::exportToWorkbookReadBack() {
    Rig rig;
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    addTwoSamples(rig);

    // The operator chooses where the workbook is kept before it is opened.
    const QString path = rig.folder() + QStringLiteral("/book.xlsx");
    rig.dialogs.fileAnswers << path;
    exportAs(rig, Choice::Spreadsheet);
    QCOMPARE(rig.dialogs.fileRequests.size(), 1);
    const tarvelo::gui::FileRequest request = rig.dialogs.fileRequests.takeFirst();
    QCOMPARE(request.title, QStringLiteral("Save workbook as..."));
    QCOMPARE(request.folder, rig.folder());
    QVERIFY(request.filter.contains(QStringLiteral("(*.xlsx)")));
    QCOMPARE(request.defaultSuffix, QStringLiteral("xlsx"));
    QVERIFY(request.confirmOverwrite);
    QCOMPARE(rig.dialogs.urls, QList<QUrl>{QUrl::fromLocalFile(path)});
    QVERIFY(rig.dialogs.messages.isEmpty());

    // Read back by an independent reader: every cell, its type and number
    // format, the sheet's name, the widths of columns A to F, and what a SUM
    // over column C gives.
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import json, sys, openpyxl
book = openpyxl.load_workbook(sys.argv[1])
sheet = book["Tabelle1"]
rows = [[[c.value, c.data_type, c.number_format] for c in row]
        for row in sheet.iter_rows(min_row=1, max_row=sheet.max_row, max_col=6)]
widths = [sheet.column_dimensions[k].width for k in "ABCDEF"]
total = sum(c.value for c in sheet["C"] if c.data_type == "n")
print(json.dumps({"sheets": book.sheetnames, "rows": rows, "widths": widths,
                  "maxColumn": sheet.max_column, "sumC": total}))
)"),
                                                      path});
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    const QJsonObject book = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    QCOMPARE(book[QStringLiteral("sheets")].toArray(), QJsonArray{QStringLiteral("Tabelle1")});
    QCOMPARE(book[QStringLiteral("maxColumn")].toInt(), 6);
    QCOMPARE(book[QStringLiteral("sumC")].toDouble(), 1.5 - 12.345);

    const QStringList expected[] = {
        {QString(), QStringLiteral("Time"), QStringLiteral("Channel 1 (N)"),
         QStringLiteral("Channel 2 (mm)"), QStringLiteral("Channel 3 (N.C.)"),
         QStringLiteral("Channel 4 (\u00b0C)")},
        {QStringLiteral("1"), QStringLiteral("01.01.1970 00.00.00.999"), QStringLiteral("1.50000"),
         QStringLiteral("2.50000"), QStringLiteral("0.00000"), QStringLiteral("0.00000")},
        {QStringLiteral("2"), QStringLiteral("02.01.1970 00.00.00.123"),
         QStringLiteral("-12.34500"), QStringLiteral("1000.00000"), QStringLiteral("0.00000"),
         QStringLiteral("3.00000")},
    };
    const QJsonArray rows = book[QStringLiteral("rows")].toArray();
    QCOMPARE(rows.size(), 3);
    for (int r = 0; r < 3; ++r) {
        const QJsonArray cells = rows[r].toArray();
        QCOMPARE(cells.size(), 6);
        for (int c = 0; c < 6; ++c) {
            const QJsonArray cell = cells[c].toArray();
            if (expected[r][c].isEmpty()) {
                QVERIFY(cell[0].isNull());
                continue;
            }
            // Row 1 and the time are text; the numbers are numbers, the
            // channel values shown with five decimals.
            const QString type = cell[1].toString();
            if (r == 0 || c == 1) {
                QCOMPARE(type, QStringLiteral("s"));
                QCOMPARE(cell[0].toString(), expected[r][c]);
                continue;
            }
            QCOMPARE(type, QStringLiteral("n"));
            QCOMPARE(cell[0].toDouble(), expected[r][c].toDouble());
            QCOMPARE(cell[2].toString(),
                     c == 0 ? QStringLiteral("General") : QStringLiteral("0.00000"));
        }
    }
    // Each column at least 1.2 digit widths per character of its longest
    // text and one more, room for a font a fifth wider than the workbook's.
    const QJsonArray widths = book[QStringLiteral("widths")].toArray();
    for (int c = 0; c < 6; ++c) {
        qsizetype longest = 0;
        for (const QStringList& row : expected)
            longest = std::max(longest, row[c].size());
        QVERIFY(widths[c].toDouble() >= 1.2 * static_cast<double>(longest) + 1);
    }

    // Cancelled, nothing is written or opened.
    exportAs(rig, Choice::Spreadsheet);
    QCOMPARE(rig.dialogs.urls.size(), 1);

    // No spreadsheet application: the message names the file, which stays.
    rig.dialogs.openUrlResult = false;
    const QString second = rig.folder() + QStringLiteral("/second.xlsx");
    rig.dialogs.fileAnswers << second;
    exportAs(rig, Choice::Spreadsheet);
    QCOMPARE(rig.dialogs.urls.size(), 2);
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QVERIFY(rig.dialogs.messages.first().text.contains(second));
    QVERIFY(QFile::exists(second));

    // A desktop whose launcher exists but that has no application for
    // workbooks: the real seam reports that nothing could be started, and
    // launches nothing.
    QTemporaryDir bin;
    const QString marker = bin.filePath(QStringLiteral("launched"));
    const auto script = [&](const QString& name, const QByteArray& body) {
        QFile file(bin.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n" + body);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    script(QStringLiteral("xdg-mime"), "exit 0\n");
    script(QStringLiteral("xdg-open"), "touch '" + marker.toLocal8Bit() + "'\n");
    const QByteArray savedPath = qgetenv("PATH");
    const auto restorePath = qScopeGuard([&] { qputenv("PATH", savedPath); });
    qputenv("PATH", bin.path().toLocal8Bit() + ':' + savedPath);
    QVERIFY(!tarvelo::gui::StandardDialogs().openUrl(QUrl::fromLocalFile(second)));
    QVERIFY(!QFile::exists(marker));
    Q_UNUSED(w);
}

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
