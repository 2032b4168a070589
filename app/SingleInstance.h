#pragma once
// The single-instance mutex, held until the process ends or the controller's restart
// gives it up.
#include <windows.h>

// Takes the mutex; false when another instance already holds it (the handle is then
// released again). A mutex that cannot be created counts as the only instance.
bool acquireSingleInstance();
// Releases and closes the mutex, so that another copy can take it at once.
void releaseSingleInstance();
