#pragma once

#include <QStringList>
#include <QTranslator>

namespace tamberlo {

// The panel's texts are written in Chinese; English comes from a translation compiled into
// the program.
enum class PanelLanguage { Chinese, English };

// The language for the user's preferred languages, most preferred first, as
// QLocale::uiLanguages() lists them from LANGUAGE, LC_ALL, LC_MESSAGES and LANG. The first
// Chinese or English entry decides; the plain "C" and "POSIX" locales count as Chinese, so
// the panel's own texts show where no language is set. With neither among them: English.
PanelLanguage panelLanguage(const QStringList& uiLanguages);

// The language of the system locale's preferences.
PanelLanguage systemPanelLanguage();

// Installs the panel's translation and Qt's own (the buttons of message boxes, the file
// dialog) for one language into the running application, for as long as it lives (a
// QTranslator leaves the application when it is destroyed).
class Translations {
public:
    explicit Translations(PanelLanguage language);
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;

    PanelLanguage language() const { return language_; }
    // Whether the catalogues the language needs, the panel's and Qt's, were found and
    // installed.
    bool panelLoaded() const { return panelLoaded_; }
    bool qtLoaded() const { return qtLoaded_; }

    // Where the English catalogue is compiled in.
    static QString englishCatalogue();

private:
    PanelLanguage language_;
    QTranslator panel_;
    QTranslator qt_;         // Qt's widgets and dialogs, and Qt Multimedia's messages
    QTranslator serialPort_; // Qt Serial Port's reasons in the "cannot open" box
    bool panelLoaded_ = false;
    bool qtLoaded_ = false;
};

} // namespace tamberlo
