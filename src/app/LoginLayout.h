// Login dialog geometry: four rows of label and field centred in the client area, and the
// title band height. Pure arithmetic (truncating division); any thread.
#pragma once
#include "app/Rect.h"

namespace kevra {

class LoginLayout {
public:
    struct Input {
        Rect client;                // dialog client rectangle (L, T, R, B)
        int fieldHeight = 0;        // h: height of the address field
        int portTextWidth = 0;      // w: "D_PORT" text measured in the label's default font
        int portTextHeight = 0;     // t
        int dialogFontHeight = 0;   // character height of the dialog's default font
    };
    struct Result {
        Rect labels[4];   // address, port, user name, password
        Rect fields[4];
        int titleHeight = 0;   // H
    };

    static Result compute(const Input& in);
};

}   // namespace kevra
