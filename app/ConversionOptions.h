#pragma once
// Turns the stored choices for an output format and one file-list row into the
// two option records of a conversion job.
//
// Threads: the user-interface thread (it reads the settings files).
#include <string>

#include "app/GlobalUnit.h"
#include "app/IniFile.h"
#include "app/SourceInfo.h"
#include "engine/component/JobOptions.h"

// A row's zoom mode: "lbox" letter-boxes the source picture into the chosen
// size; "cent", "full" and "orig" keep the source picture size less the crop.
inline constexpr const char* kZoomLetterBox = "lbox";

// Fills output and input for converting the source to format formatIndex.
// output arrives reset and holds the file name, the crop (fields -1 for no
// crop) and the duration of a trimmed row; every other field it leaves unset
// keeps its reset value.
//
// The choices are the main settings file's section of the format; a format
// whose section was never saved uses the profile's default choices, as if the
// settings dialog had been confirmed with its Default picks. Raises
// EConvertError when a stored number does not convert.
void BuildConversionOptions(const TGlobalObject& global, int formatIndex, const std::string& zoomMode,
                            const TSourceInfo& source, TOutputOptions& output, TInputOptions& input);
void BuildConversionOptions(const TIniFile& mainFile, const TIniFile& profileFile, int formatIndex,
                            const std::string& zoomMode, const TSourceInfo& source, TOutputOptions& output,
                            TInputOptions& input);

// The letter box: fits a sourceWidth x sourceHeight picture, less the crop
// already in output (fields below 0 count as 0), into width x height without
// distortion. Sets output's FrameSize (the crop included, since the converter
// subtracts it), AspectRatio "width:height" and the even pads that make up the
// rest. Needs four sizes above 0; otherwise it sets nothing.
void ApplyLetterBox(int sourceWidth, int sourceHeight, int width, int height, TOutputOptions& output);
