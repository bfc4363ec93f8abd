// The look of Tarnel's windows: one style sheet for the whole application.
#pragma once

#include <QString>

namespace tarnel::skin {

QString StyleSheet();

} // namespace tarnel::skin
