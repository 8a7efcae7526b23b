// The status line. The run and up to 8 workers format texts while the window
// thread paints one: each text is formatted privately and published whole
// under a lock that the painter also takes to copy it.
#pragma once

#include "shell/LauncherState.h"

// Formats (cut to 255 characters), publishes, and posts WM_STATUS_CHANGED.
void setStatus(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Publishes a text without posting: start-up's "Iniciando..." before the
// window is shown.
void publishStatusText(const char* text);

// The painter's side: copies the current text whole.
void copyStatusText(char* out /* STATUS_TEXT_SIZE bytes */);

// Stores progressPermille and posts WM_STATUS_CHANGED.
void setProgress(int32_t permille);

// Posts WM_STATUS_CHANGED to mainWindow unless one is already waiting there:
// never more than one is outstanding.
void postStatusChanged();

// The window's side: called as it takes WM_STATUS_CHANGED, before it repaints,
// so that the next change posts again.
void takeStatusChanged();

// Called with every text as it is published, in publishing order, with the
// progress at that moment; tests use it to see every text a run shows.
extern void (*gStatusObserver)(const char* text, int32_t progressPermille);
