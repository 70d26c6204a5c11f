// quarry2: questionnaire compiler and directory list.
#pragma once

#include "filepath_record.h"

void CompileQA();
void ListDirs();
int FilePathAllowed(FilePathRecord &record);
void ShowHelp();
void Quarry2Work();
#ifdef VLM_TEST_HOOKS
// Forgets the security range, so the next filter call reads it again (tests).
void ResetSecurityRange();
#endif
