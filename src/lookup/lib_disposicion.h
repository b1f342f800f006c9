#pragma once
// The lookup dialog's geometry arithmetic, in twips (15 twips per pixel at 96 dpi): the widths
// the loading derives from the columns, and the layout of every resize.
#include <vector>

inline constexpr double TwipsPorPixel = 15.0;

struct RectTwips {
    double Left = 0, Top = 0, Width = 0, Height = 0;
};

struct AnchosCarga {
    std::vector<RectTwips> cajas; // left and width of each search box (top and height unchanged)
    double total = 0;
    double anchoLista = 0;
    double anchoPicFields = 0;
    double anchoHScroll = 0;
    double anchoDialogo = 0;
};

// Steps 8 to 14 of the loading: search boxes under their columns and the widths that follow
// from the columns. `izquierdas`/`anchos` hold every column (the quantity column last when
// `usaCantidades`); `anchoPantalla` is the screen's width.
AnchosCarga CalcularAnchos(const std::vector<double>& izquierdas, const std::vector<double>& anchos,
                           bool usaCantidades, double anchoPantalla);

struct Disposicion {
    RectTwips picFields{0, 0, 7200, 3975};
    RectTwips ListView1{0, 360, 7335, 3255};
    RectTwips HScroll1{0, 3600, 7215, 255};
    RectTwips Frame1{1080, 3960, 4935, 255};
};

// The layout for an outer dialog size; a size that would be negative leaves that control's
// size as it was.
void Redimensionar(Disposicion& d, double anchoDialogo, double altoDialogo);

// Whole-number rounding with halves to the even neighbour.
double RedondeoPar(double v);
