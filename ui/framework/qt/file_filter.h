#pragma once
// The framework's file filter in the form Qt's file dialog takes.

#include <string>

// "description (patterns)" entries separated by ";;".
std::string QtFilterFromFrameworkFilter(const char* filter);
