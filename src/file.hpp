#pragma once

int fileExists(char* filePath);

// Writes "123456789" into filePath, creating or truncating it. FALSE when it cannot be opened.
int createFile(const char* filePath);
