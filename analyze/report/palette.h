// Every colour of the analyzer's charts and of its report's page, each
// defined once here; the charts and the page's style sheet name them by
// what they show.
#pragma once

// Greys, from the text's to the page's.
constexpr const char *INK = "#212529";
constexpr const char *SLATE = "#495057";
constexpr const char *GREY = "#868e96";
constexpr const char *SILVER = "#adb5bd";
constexpr const char *PALE_GREY = "#dee2e6";
constexpr const char *MIST = "#e9ecef";
constexpr const char *HAZE = "#f1f3f5";
constexpr const char *SNOW = "#f8f9fa";
constexpr const char *WHITE = "#ffffff";

// Hues.
constexpr const char *BLUE = "#1c64b4";
constexpr const char *LIGHT_BLUE = "#8fb8e6";
constexpr const char *DARK_BLUE = "#0b3d91";
constexpr const char *CLEAR_BLUE = "#1971c2";
constexpr const char *ORANGE = "#e8590c";
constexpr const char *DARK_ORANGE = "#c2410c";  // as text: 5.2:1 on white
constexpr const char *LIGHT_ORANGE = "#ffc078";
constexpr const char *RED = "#c92a2a";
constexpr const char *GREEN = "#2b8a3e";
constexpr const char *DEEP_GREEN = "#26803a";  // under white text: 5.0:1
constexpr const char *VIOLET = "#9775fa";
constexpr const char *GRAPE = "#9c36b5";
constexpr const char *TEAL = "#0c8599";
constexpr const char *LIME = "#5c940d";
constexpr const char *PURPLE = "#862e9c";

// What every chart draws with.
constexpr const char *TEXT_COLOUR = INK;
constexpr const char *NOTE_COLOUR = SLATE;  // subtitles, notes and captions
constexpr const char *FRAME_COLOUR = SLATE;
constexpr const char *GRID_COLOUR = MIST;
constexpr const char *AXIS_COLOUR = SILVER;  // the grid line through 0

// What the charts over time mark, in each of them alike.
constexpr const char *DIFFERENCE_COLOUR = BLUE;
constexpr const char *BAND_UNDER_MEAN_COLOUR = LIGHT_BLUE;  // lighter: the mean goes over it
constexpr const char *MEAN_COLOUR = DARK_BLUE;
constexpr const char *THRESHOLD_COLOUR = ORANGE;
constexpr const char *STEP_COLOUR = RED;
constexpr const char *SLEW_COLOUR = GREEN;
constexpr const char *RUN_COLOUR = GREY;
// Their labels, as text, darker: at least 4.5:1 on white (ORANGE and GREY
// are 3.6:1 and 3.3:1, enough for a line but not for words).
constexpr const char *THRESHOLD_LABEL_COLOUR = DARK_ORANGE;
constexpr const char *RUN_LABEL_COLOUR = SLATE;
constexpr const char *GAP_COLOUR = LIGHT_ORANGE;
constexpr const char *PHASE_COLOUR = VIOLET;
