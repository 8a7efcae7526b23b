// The status line of a run's downloads, shared by its workers: the counts,
// the speed of what arrives over the network and the time left, fitted to
// the window's status line in the window's font.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "update/Speed.h"
#include "update/StatusLine.h"

enum { DOWNLOAD_STATUS_REFRESH_MS = 1000 };

struct DownloadStatus {
    SRWLOCK lock;  // over the meter and the figures last shown
    SpeedMeter meter;
    volatile uint64_t networkBytes;  // fetched over the network so far
    int32_t jobCount;
    uint64_t totalBytes;
    uint64_t doneBytes;  // as last shown
    int32_t finished;
};

void startDownloadStatus(DownloadStatus* status, int32_t jobCount, uint64_t totalBytes);

// Bytes that arrived over the network: they count as speed. Bytes taken from
// the disk count only in the progress. Here and below, a null status (a
// queue that shows the bar alone) takes nothing.
void countNetworkBytes(DownloadStatus* status, uint32_t bytes);

// Shows the counts with the speed and time left of now.
void showDownloadStatus(DownloadStatus* status, uint64_t doneBytes, int32_t finished);

// The figures last shown with the speed of now, once they are a second old:
// while transfers fall silent the speed falls instead of standing still.
void refreshDownloadStatus(DownloadStatus* status);

// The advance widths of font's ASCII characters; all 0 without a font.
void measureStatusFont(HFONT font, StatusWidths* widths);

// How wide the download line may be: the status line left of the percentage.
int32_t downloadStatusWidthLimit();
