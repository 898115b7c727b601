#pragma once
// Colours and fonts as stored definitions give them. The objects themselves
// are the graphics layer's (graphics/Canvas.h).

#include <string>

#include "graphics/Canvas.h"
#include "rtl/Colors.h"
#include "ui/StoredDefinition.h"

class TReader;

// Colours in stored definitions: a number or a name such as clBtnFace.
TColor ReadColor(const TReader& reader, const TStoredValue& value);
// Sub-properties such as "Height" of a stored "Font.Height".
bool ReadFontProperty(TFont& font, const TReader& reader, const std::string& name, const TStoredValue& value);
