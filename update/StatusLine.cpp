#include "update/StatusLine.h"

#include "shell/Text.h"
#include "update/Download.h"

// bytes / unit rounded: "%d.%d" below 100, whole from there on.
static void formatRate(char* out, size_t size, uint64_t bytes, uint64_t unit, const char* name) {
    uint64_t tenths = (uint64_t)(((unsigned __int128)bytes * 10 + unit / 2) / unit);
    if (tenths < 1000) {
        formatText(out, size, "%d.%d %s", (int)(tenths / 10), (int)(tenths % 10), name);
    } else {
        formatText(out, size, "%llu %s", (unsigned long long)((bytes + unit / 2) / unit), name);
    }
}

void formatSpeed(char* out, size_t size, int64_t bytesPerSecond) {
    uint64_t bytes = bytesPerSecond > 0 ? (uint64_t)bytesPerSecond : 0;
    // From 1,048,064 bytes a second the kilobytes would round to 1024.
    if (bytes < 1048064) {
        formatRate(out, size, bytes, 1024, "KB/s");
    } else {
        formatRate(out, size, bytes, 1048576, "MB/s");
    }
}

int formatTimeLeft(char* out, size_t size, int64_t seconds) {
    int64_t minutes = seconds / 60 + (seconds % 60 != 0);
    if (seconds < 60) {
        formatText(out, size, "menos de 1 min");
    } else if (minutes < 60) {
        formatText(out, size, "%d min", (int)minutes);
    } else if (minutes / 60 > 99) {
        return 0;
    } else if (minutes % 60 == 0) {
        formatText(out, size, "%d h", (int)(minutes / 60));
    } else {
        formatText(out, size, "%d h %d min", (int)(minutes / 60), (int)(minutes % 60));
    }
    return 1;
}

int32_t statusTextWidth(const StatusWidths* widths, const char* text) {
    int32_t width = 0;
    for (; *text; ++text) width += widths->advance[(unsigned char)*text & 127];
    return width;
}

void formatDownloadStatus(char* out, size_t size, const DownloadFigures* f, const StatusWidths* widths,
                          int32_t widthLimit) {
    char speed[32] = "", left[32] = "";
    int hasSpeed = f->finished < f->jobCount && f->speed >= 0;
    if (hasSpeed) formatSpeed(speed, sizeof(speed), f->speed);
    int hasLeft = hasSpeed && f->secondsLeft >= 0 && formatTimeLeft(left, sizeof(left), f->secondsLeft);
    // The forms from the one that says most; the first that fits is shown.
    static const struct { int speed, left; } forms[] = {{1, 1}, {0, 1}, {1, 0}, {0, 0}};
    for (const auto& form : forms) {
        if ((form.speed && !hasSpeed) || (form.left && !hasLeft)) continue;
        formatText(out, size, "Descargando... %d / %d archivos (%d / %d MB%s%s%s%s)", f->finished, f->jobCount,
                   wholeMebibytes(f->doneBytes), wholeMebibytes(f->totalBytes), form.speed ? ", " : "",
                   form.speed ? speed : "", form.left ? ", quedan " : "", form.left ? left : "");
        if (statusTextWidth(widths, out) <= widthLimit) return;
    }
}
