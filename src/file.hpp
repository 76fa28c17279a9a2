#pragma once

int fileExists(char* filePath);
