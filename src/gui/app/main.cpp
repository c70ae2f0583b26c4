#include <QApplication>

#include "app/dialogs.h"
#include "app/process_values.h"
#include "app/program.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvelo II"));
    QApplication::setApplicationVersion(QStringLiteral(TARVELO_VERSION));

    tarvelo::app::ProcessValues values;
    values.programDirectory = QCoreApplication::applicationDirPath().toStdString();
    while (values.programDirectory.size() > 1 && values.programDirectory.back() == '/')
        values.programDirectory.pop_back();

    tarvelo::gui::StandardDialogs dialogs;
    tarvelo::gui::ProgramWindows windows = tarvelo::gui::createProgramWindows(values, dialogs);
    windows.hauptFenster->show();
    const int result = application.exec();
    windows.hauptFenster.reset();
    return result;
}
