#pragma once

#include <QString>

class QCoreApplication;

namespace limnoscope {

// Loads the translations of the visible texts for the user's language (English when there is
// none for it), so that qtTrId("key") gives the text. Call once on the GUI thread.
void installTranslations(QCoreApplication* application);

} // namespace limnoscope
