// vellaro-host bench: a plug-in's GetPicture against the bare imaging work of the same
// picture, timed run by run in one process, with the memory each path adds.
#pragma once

#include <string>
#include <vector>

// bench PLUGIN IN.png|FOLDER [--runs N]: prints `key: value` lines; 0 on success.
int RunBench(const std::vector<std::wstring>& args);
