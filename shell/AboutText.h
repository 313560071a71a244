// The text of the host's about box.
#pragma once

#include <cstddef>
#include <cstdint>

// 0 "Development", 1 "Alpha", 2 "Beta", anything else "Release".
const char* StageWord(int32_t stage);

// Writes the about text for the given release stage into text (capacity
// bytes, always terminated). The recorded host picks the layout: 'KeyG'
// shows one line, every other host a block.
void MakeAboutText(char* text, size_t capacity, int32_t stage);
