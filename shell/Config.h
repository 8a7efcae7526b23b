// launcher.ini beside the executable: section Launcher, keys UpdateUrl,
// MirrorUrl1 to MirrorUrl4, WebUrl and MaxDownloadKBps. Read once at start-up; the launcher
// never writes it.
#pragma once

#include <stdint.h>

// Reads the keys into updateUrl, mirrorUrls, webUrl and maxDownloadKBps and
// normalises them.
void readConfig();

// UpdateUrl gets exactly one trailing "/" so that document and file paths can
// be appended directly. A value that fills the whole buffer and lacks the
// slash is left as it is rather than cut: the update run refuses it.
void normaliseUpdateUrl(char* url, int size);

// WebUrl is kept only when it begins with "https://" in any letter case.
void normaliseWebUrl(char* url);

// Whether the update run may use updateUrl: HTTPS anywhere, or plain HTTP to
// this machine, and the trailing "/" that normalisation adds; never with user
// information ("@" before the path).
int isAcceptedUpdateUrl(const char* url);

// Plain HTTP to this machine ("http://127.0.0.1" or "http://localhost", then
// a port of digits, a path or nothing, and no "@" anywhere): such requests
// get no secure-channel flag.
int isLocalUrl(const char* url);

// Where a transfer ended after the library followed redirects: HTTPS, or
// plain HTTP to this machine when that is what was asked for.
int keepsHttps(const char* askedUrl, const char* finalUrl);

// MaxDownloadKBps: decimal digits, blanks around them allowed; anything else
// (empty, signed, not a number) is 0, no limit. A value past 999,999,999 is
// read as that: no connection comes near it.
int32_t parseMaxDownloadKBps(const char* text);
