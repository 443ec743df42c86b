#pragma once

// ISO 639-2 codes (bibliographic and terminology, lower case) with their
// English names; generated into VHLanguageTable.cpp.
struct VHLanguageTableRow
{
    const char *code;
    const char *name;
};

extern const VHLanguageTableRow kVHLanguageTable[];
extern const int kVHLanguageTableSize;
