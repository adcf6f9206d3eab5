#include "Localization.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

namespace limnoscope {

void installTranslations(QCoreApplication* application)
{
    auto* translator = new QTranslator(application);
    if (translator->load(QLocale(), QStringLiteral("limnoscope"), QStringLiteral("_"), QStringLiteral(":/i18n"))
        || translator->load(QStringLiteral(":/i18n/limnoscope_en.qm")))
        QCoreApplication::installTranslator(translator);
    // Qt's own texts (file dialogs, standard buttons) follow the same language; without them a
    // German window would show English dialogs. English needs none.
    auto qtTranslator = std::make_unique<QTranslator>();
    if (qtTranslator->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        qtTranslator->setParent(application);
        QCoreApplication::installTranslator(qtTranslator.release());
    }
}

} // namespace limnoscope
