#pragma once
// Catalogue texts as the widgets take them.
#include <QString>

#include "app/message_catalogue.h"

// The text in the user-interface language; empty for an id the catalogue lacks.
inline QString Text(TextId id) { return QString::fromStdString(CatalogueText(id)); }
