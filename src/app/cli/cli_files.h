#pragma once
// The files of tarnwell-cli: the input stream ("-" is standard input) and the
// output files its options name ("-" is standard output). No output may be
// the input: an output option naming the input file, through any path or
// link, is refused before anything is opened for writing.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace tarnwell {

// True when `output` names the file that `input` names (the same device and
// inode, or the same file on Windows); `input` "-" is standard input.
bool is_same_file(const std::string& output, const std::string& input);

// The first of the (option, path) pairs whose path is the input file, as the
// one-line error to print; empty when none is. Paths that are empty or "-"
// are not files and never match.
std::string refuse_outputs_on_input(const std::vector<std::pair<const char*, std::string>>& outputs,
                                    const std::string& input);

// The input stream: standard input for "-" (switched to binary mode), else
// the file opened as every reader of the stream opens it. On failure null,
// with `reason` set to the system's reason.
std::FILE* open_cli_input(const std::string& path, std::string& reason);

}  // namespace tarnwell
