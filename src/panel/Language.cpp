#include "panel/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

namespace tamberlo {

PanelLanguage panelLanguage(const QStringList& uiLanguages) {
    for (const QString& entry : uiLanguages) {
        // "zh", "zh-CN", "zh-Hant-TW", "en_GB", "C.UTF-8", ...
        const QString language = entry.section(QLatin1Char('-'), 0, 0)
                                     .section(QLatin1Char('_'), 0, 0)
                                     .section(QLatin1Char('.'), 0, 0)
                                     .toLower();
        if (language == QLatin1String("zh") || language == QLatin1String("c") ||
            language == QLatin1String("posix"))
            return PanelLanguage::Chinese;
        if (language == QLatin1String("en"))
            return PanelLanguage::English;
    }
    return PanelLanguage::English;
}

PanelLanguage systemPanelLanguage() {
    return panelLanguage(QLocale::system().uiLanguages());
}

QString Translations::englishCatalogue() {
    return QStringLiteral(":/i18n/tamberlo_en.qm");
}

Translations::Translations(PanelLanguage language) : language_(language) {
    const QString qtCatalogues = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    switch (language) {
    case PanelLanguage::Chinese:
        // The panel's texts are Chinese already; Qt's own are English unless translated.
        // The panel's Chinese is the simplified script, and so is Qt's then.
        panelLoaded_ = true;
        qtLoaded_ = qt_.load(QStringLiteral("qt_zh_CN"), qtCatalogues) &&
                    QCoreApplication::installTranslator(&qt_) &&
                    serialPort_.load(QStringLiteral("qtserialport_zh_CN"), qtCatalogues) &&
                    QCoreApplication::installTranslator(&serialPort_);
        break;
    case PanelLanguage::English:
        // Qt's own texts are English already.
        panelLoaded_ =
            panel_.load(englishCatalogue()) && QCoreApplication::installTranslator(&panel_);
        qtLoaded_ = true;
        break;
    }
}

} // namespace tamberlo
