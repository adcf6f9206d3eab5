#include "Localization.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

namespace limnoscope {

void installTranslations(QCoreApplication *application)
{
    auto *translator = new QTranslator(application);
    if (translator->load(QLocale(), QStringLiteral("limnoscope"), QStringLiteral("_"), QStringLiteral(":/i18n"))
        || translator->load(QStringLiteral(":/i18n/limnoscope_en.qm")))
        QCoreApplication::installTranslator(translator);
}

} // namespace limnoscope
