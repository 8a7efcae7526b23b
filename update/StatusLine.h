// The status line while files download: the counts, and the speed and the
// time left once they can be said, in as much as fits the window's line.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Pixel advance of each ASCII character in the status font. All 0 (no font,
// nothing drawn): every text fits.
struct StatusWidths {
    uint8_t advance[128];
};

struct DownloadFigures {
    int32_t finished, jobCount;
    uint64_t doneBytes, totalBytes;
    int64_t speed;        // bytes a second, -1 while not known
    int64_t secondsLeft;  // -1 while not known
};

// "5.2 MB/s", "120 MB/s", "350 KB/s", "0.5 KB/s": one decimal below 100, none
// above; kilobytes below a megabyte a second (both of 1024).
void formatSpeed(char* out, size_t size, int64_t bytesPerSecond);

// "menos de 1 min", "3 min", "1 h 5 min", "2 h", minutes rounded up. Returns 0
// and writes nothing past 99 hours: no estimate says anything there.
int formatTimeLeft(char* out, size_t size, int64_t seconds);

// The drawn width of text in pixels.
int32_t statusTextWidth(const StatusWidths* widths, const char* text);

// "Descargando... F / J archivos (D / T MB, SPEED, quedan TIME)", leaving out
// what is not known and, when the whole line does not fit widthLimit pixels,
// first the speed, then the time left. Once every file is done, neither.
void formatDownloadStatus(char* out, size_t size, const DownloadFigures* figures, const StatusWidths* widths,
                          int32_t widthLimit);
