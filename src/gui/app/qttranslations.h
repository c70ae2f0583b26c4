#pragma once

#include <memory>

class QTranslator;

namespace tarvelo::gui {

// Qt's own texts (the Yes, No and Cancel of message boxes and the file
// dialogs) in the program's language, from the translations Qt ships.
class QtTranslations {
public:
    QtTranslations();
    ~QtTranslations();

    // 0 German, 1 English, 2 French, 3 Italian; any other value keeps the
    // translation in force. Returns whether a translation file was loaded.
    bool apply(int language);

private:
    std::unique_ptr<QTranslator> translator_;
};

}  // namespace tarvelo::gui
