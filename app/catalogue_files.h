#pragma once
// The catalogue files as they stand in app/resources, compiled into the library
// at build time (app/embed_file.cmake).
#include <string_view>

std::string_view EnglishCatalogueFile();
std::string_view JapaneseCatalogueFile();
