// The console's translations: its own texts (ui/translations/quorvane_<language>.ts, compiled into the
// program) and Qt's own texts (the standard dialogs' buttons), installed for the user's language.
#pragma once

#include <QLocale>
#include <QString>

namespace quorvane {

/// Installs on the running application the console's translation for the first of `locale`'s languages that
/// has one, with Qt's own translation for that language (when the system has it), replacing the ones an
/// earlier call installed. Returns the language installed ("de"); "" when the console's texts stay English
/// (no translation for any of the languages, or English first), and then none of Qt's is installed either,
/// so that one window never mixes two languages.
QString install_translations(const QLocale& locale);

}  // namespace quorvane
