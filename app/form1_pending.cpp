// Temporary: filled in as the task window, file list and address field land.
#include "app/form1.h"
namespace lesemund {
void Form1::Command10_Click() {}
void Form1::closeTaskWindow() {}
Ftask *Form1::ftask() const { return ftask_; }
void Form1::File1_KeyDown(int) {}
void Form1::Furl_KeyDown(int) {}
} // namespace lesemund
