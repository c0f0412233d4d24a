#pragma once

// Writes how four fixed paths take apart: root name, root directory, root path, relative path,
// absoluteness, parent path, file name, stem and extension, one labelled line each.
void more();
