#pragma once

#include <QString>

// The reason behind a system error number (errno), in the words the program
// uses with the technician; the system's own text for the rare others.
QString systemErrorText(int error);
