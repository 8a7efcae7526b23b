// The commands of orvel-publish, one file each in commands/. CommandLine.cpp
// reads the command line into PublishOptions and runs one of them; each
// returns its exit status (PUBLISH_EXIT_*).
#pragma once

#include <stdint.h>
#include <stdio.h>

struct PublishOptions {
    const char* operand;    // the folder, file or name the command works on
    const char* output;     // manifest -o FILE; null: the default
    const char* manifest;   // verify --manifest FILE; null: the default
    const char* key;        // --key NAME.key; null: nothing signed
    const char* publicKey;  // verify --pub NAME.pub; null: no signature checked
    int32_t clientDirLength;
};

// Reads the command line (argv[0] is the program) and runs the command.
int runPublish(int argc, char** argv, FILE* out, FILE* err);

int runKeygen(const PublishOptions* options, FILE* out, FILE* err);
int runManifest(const PublishOptions* options, FILE* out, FILE* err);
int runSign(const PublishOptions* options, FILE* out, FILE* err);
int runCheckNews(const PublishOptions* options, FILE* out, FILE* err);
int runVerify(const PublishOptions* options, FILE* out, FILE* err);
