// Queries about files by name and of open streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// File queries through a directory search: ordinary, read-only and archive
// files only (never directories, hidden or system files); wildcards allowed.
int ExistFile(const std::string &name);
int32_t FileSize(const std::string &name);
// The same at full width: a text file may pass 2 GiB.
int64_t FileSize64(const std::string &name);
int32_t FileSize(FILE *stream);
