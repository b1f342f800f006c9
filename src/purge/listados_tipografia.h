#pragma once
// Text on the listings' pages (internal to the listings). A listing of 100,000 rows has close
// to a million cells: a pango layout for each costs about 10 us, too slow. Text whose
// characters the font draws one glyph each (Latin, Greek, Cyrillic, punctuation) goes through
// a cache of glyphs and advances instead, and is measured, broken into lines and drawn from
// it; any other text (combining marks, scripts that need shaping, characters the font lacks)
// goes through pango whole. Sizes are in points: the pages' user units.
#include <cairo.h>
#include <pango/pangocairo.h>
#include <string>
#include <string_view>
#include <vector>

enum class Alineacion : unsigned char { Izquierda, Derecha };

// A line of a text: its bytes [desde, hasta).
struct TramoTexto {
    int desde = 0, hasta = 0;
};

class Fuente {
public:
    // descripcion as pango reads it: "DejaVu Sans", "DejaVu Sans Bold".
    Fuente(PangoFontMap* mapa, const char* descripcion);
    ~Fuente();
    Fuente(const Fuente&) = delete;
    Fuente& operator=(const Fuente&) = delete;

    // Ascent and descent of one point of font size.
    double Ascenso() const { return ascenso_; }
    double Descenso() const { return descenso_; }
    // Width of a text (UTF-8, one line) at one point of font size.
    double Ancho(std::string_view texto);
    // Width of a text's longest word at one point.
    double AnchoPalabraMasLarga(std::string_view texto);
    // Breaks a text into lines no wider than `ancho` at size `tam`: at blanks, and inside a
    // word only when the word alone does not fit. At least one line, even for no text.
    int Partir(std::string_view texto, double tam, double ancho, std::vector<TramoTexto>& lineas);
    // Draws one line (no breaking) with its baseline at y: from x, or ending at x. Lines drawn
    // one after the other are kept in a batch, shown in one call by Vaciar.
    void Dibujar(cairo_t* cr, std::string_view linea, double tam, double x, double y, Alineacion alineacion);
    // Shows what the batch holds. Before anything else is drawn on the page.
    void Vaciar(cairo_t* cr);

private:
    struct Glifo {
        unsigned glifo = 0;
        float avance = 0;         // at one point
        unsigned char estado = 0; // 0 not looked up yet, 1 in the font, 2 not drawable alone
    };
    struct Caracter {
        char32_t cp;
        int desde, largo; // bytes
        unsigned glifo;
        float avance;
    };
    // Decodes the text into caracteres_; false when pango must lay it out.
    bool Analizar(std::string_view texto);
    // Partir for a text Analizar took: the lines by the font's own advances.
    int partirAnalizado(double tam, double ancho, std::vector<TramoTexto>& lineas);
    Glifo& Buscar(char32_t cp);
    void Liberar();
    PangoLayout* Disposicion(double tam);
    cairo_scaled_font_t* Escalada(double tam);

    PangoFontMap* mapa_;
    PangoContext* contexto_ = nullptr;
    PangoFontDescription* descripcion_ = nullptr;
    PangoFont* referencia_ = nullptr; // at kReferencia points: the advances of the cache
    PangoGlyphString* forma_ = nullptr;
    PangoLayout* disposicion_ = nullptr;
    double tamDisposicion_ = 0;
    PangoFont* fuenteEscalada_ = nullptr;
    double tamEscalada_ = 0;
    double ascenso_ = 0.8, descenso_ = 0.2;
    std::vector<Glifo> glifos_;
    std::vector<Caracter> caracteres_;
    // The batch: glyphs at their places, the text they stand for, one cluster per character.
    std::vector<cairo_glyph_t> lote_;
    std::vector<cairo_text_cluster_t> grupos_;
    std::string textoLote_;
    double tamLote_ = 0;
};
