#pragma once

// Prints Japanese sample text in several ways, to see which of them the console shows correctly.
void characterCodeTest();
