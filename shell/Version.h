// The launcher's version, in the one place that feeds the version resource,
// the HTTP user agent and the label painted in the window.
#pragma once

#define ORVEL_VERSION_MAJOR 1
#define ORVEL_VERSION_MINOR 1
#define ORVEL_VERSION_TEXT "1.1"

#define ORVEL_USER_AGENT "OrvelLauncher/" ORVEL_VERSION_TEXT
#define ORVEL_VERSION_LABEL "v" ORVEL_VERSION_TEXT
