// The commands of orvel-publish, one file each in commands/. CommandLine.cpp
// reads the command line into PublishOptions and runs one of them; each
// returns its exit status (PUBLISH_EXIT_*).
#pragma once

#include <stdint.h>
#include <stdio.h>

struct PublishOptions {
    const char* operands[2];  // the folders, file or name the command works on
    const char* output;       // manifest -o FILE; null: the default
    const char* manifest;     // verify --manifest FILE; null: the default
    const char* key;          // --key NAME.key; null: nothing signed
    const char* publicKey;    // verify --pub NAME.pub; null: no signature checked
    const char* news;         // release --news FILE
    const char* launcher;     // release --launcher FILE
    int32_t clientDirLength;
    uint64_t release;     // release --release N; 0: one more than the last
    int32_t expiresDays;  // release --expires-days D; 0: no #expires
    int32_t noPaths;      // release --no-paths
    int32_t keep;         // prune --keep K
};

// Reads the command line (argv[0] is the program) and runs the command.
int runPublish(int argc, char** argv, FILE* out, FILE* err);

int runKeygen(const PublishOptions* options, FILE* out, FILE* err);
int runManifest(const PublishOptions* options, FILE* out, FILE* err);
int runSign(const PublishOptions* options, FILE* out, FILE* err);
int runCheckNews(const PublishOptions* options, FILE* out, FILE* err);
int runVerify(const PublishOptions* options, FILE* out, FILE* err);
int runRelease(const PublishOptions* options, FILE* out, FILE* err);
int runPrune(const PublishOptions* options, FILE* out, FILE* err);
