// Scratch files for tests, natively and under Wine.
#pragma once

#include <string>

// A new empty folder under the system's temporary folder.
std::string makeTempDir();
// Path joined with the platform's separator.
std::string joinPath(const std::string& dir, const std::string& name);
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
