#include "purge/listados_tipografia.h"

#include "suite/error.h"

#include <QString>

namespace {

// The size the cache's advances are measured at: large enough that pango's units (1/1024 of a
// point) round nothing that matters.
constexpr double kReferencia = 100;
// Characters at or past this one always go through pango.
constexpr char32_t kLimiteRapido = 0x2300;

// Characters the font draws as one glyph of their own, with no shaping: Latin, Greek, Cyrillic
// letters, punctuation, currency, arrows and mathematical signs. Not the soft hyphen (shown
// only where a line breaks) nor combining marks.
bool esRapido(char32_t c) {
    return (c >= 0x20 && c < 0x7f) || (c >= 0xa0 && c < 0x250 && c != 0xad) || (c >= 0x370 && c < 0x400) ||
           (c >= 0x400 && c < 0x483) || (c >= 0x48a && c < 0x530) || (c >= 0x1e00 && c < 0x1f00) ||
           (c >= 0x2010 && c < 0x2028) || (c >= 0x2030 && c < 0x205f) || (c >= 0x20a0 && c < 0x20c0) ||
           (c >= 0x2100 && c < 0x2150) || (c >= 0x2190 && c < kLimiteRapido);
}

// The next character of valid UTF-8 text, and its length in bytes.
char32_t leer(std::string_view t, size_t i, int& largo) {
    const auto c = static_cast<unsigned char>(t[i]);
    largo = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
    if (i + size_t(largo) > t.size()) {
        largo = 1;
        return 0xfffd;
    }
    char32_t cp = largo == 1 ? c : largo == 2 ? c & 0x1f : largo == 3 ? c & 0x0f : c & 0x07;
    for (int k = 1; k < largo; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(t[i + size_t(k)]) & 0x3f);
    return cp;
}

} // namespace

Fuente::Fuente(PangoFontMap* mapa, const char* descripcion) : mapa_(mapa), glifos_(kLimiteRapido) {
    contexto_ = pango_font_map_create_context(mapa_);
    // Points are the page's units; metrics unhinted, so that widths scale with the size.
    pango_cairo_context_set_resolution(contexto_, 72);
    cairo_font_options_t* opciones = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(opciones, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(opciones, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(contexto_, opciones);
    cairo_font_options_destroy(opciones);
    pango_context_set_round_glyph_positions(contexto_, FALSE);
    pango_context_set_language(contexto_, pango_language_from_string("es"));
    descripcion_ = pango_font_description_from_string(descripcion);
    pango_font_description_set_absolute_size(descripcion_, kReferencia * PANGO_SCALE);
    referencia_ = pango_font_map_load_font(mapa_, contexto_, descripcion_);
    if (!referencia_) {
        Liberar();
        throw ErrorSistema(Errores::ArchivoNoEncontrado,
                           QStringLiteral("No hay ninguna fuente tipográfica instalada para los listados "
                                          "(se buscó \"%1\").")
                               .arg(QString::fromUtf8(descripcion)));
    }
    PangoFontMetrics* metricas = pango_font_get_metrics(referencia_, pango_language_from_string("es"));
    ascenso_ = pango_font_metrics_get_ascent(metricas) / double(PANGO_SCALE) / kReferencia;
    descenso_ = pango_font_metrics_get_descent(metricas) / double(PANGO_SCALE) / kReferencia;
    pango_font_metrics_unref(metricas);
    forma_ = pango_glyph_string_new();
}

Fuente::~Fuente() {
    Liberar();
}

void Fuente::Liberar() {
    if (disposicion_) g_object_unref(disposicion_);
    if (fuenteEscalada_) g_object_unref(fuenteEscalada_);
    if (forma_) pango_glyph_string_free(forma_);
    if (referencia_) g_object_unref(referencia_);
    if (descripcion_) pango_font_description_free(descripcion_);
    if (contexto_) g_object_unref(contexto_);
    disposicion_ = nullptr;
    fuenteEscalada_ = nullptr;
    forma_ = nullptr;
    referencia_ = nullptr;
    descripcion_ = nullptr;
    contexto_ = nullptr;
}

Fuente::Glifo& Fuente::Buscar(char32_t cp) {
    Glifo& g = glifos_[cp];
    if (g.estado) return g;
    char bytes[8];
    const int n = g_unichar_to_utf8(gunichar(cp), bytes);
    PangoAnalysis analisis{};
    analisis.font = referencia_;
    analisis.level = 0;
    analisis.gravity = PANGO_GRAVITY_SOUTH;
    analisis.script = guint8(g_unichar_get_script(gunichar(cp)));
    analisis.language = pango_language_from_string("es");
    pango_shape(bytes, n, &analisis, forma_);
    g.estado = 2;
    if (forma_->num_glyphs == 1) {
        const PangoGlyphInfo& info = forma_->glyphs[0];
        if (!(info.glyph & PANGO_GLYPH_UNKNOWN_FLAG) && info.glyph != PANGO_GLYPH_EMPTY &&
            info.glyph != PANGO_GLYPH_INVALID_INPUT) {
            g.glifo = info.glyph;
            g.avance = float(info.geometry.width / double(PANGO_SCALE) / kReferencia);
            g.estado = 1;
        }
    }
    return g;
}

bool Fuente::Analizar(std::string_view texto) {
    caracteres_.clear();
    for (size_t i = 0; i < texto.size();) {
        int largo = 1;
        const char32_t cp = leer(texto, i, largo);
        if (!esRapido(cp)) return false;
        const Glifo& g = Buscar(cp);
        if (g.estado != 1) return false;
        caracteres_.push_back({cp, int(i), largo, g.glifo, g.avance});
        i += size_t(largo);
    }
    return true;
}

PangoLayout* Fuente::Disposicion(double tam) {
    if (!disposicion_) disposicion_ = pango_layout_new(contexto_);
    if (tam != tamDisposicion_) {
        PangoFontDescription* d = pango_font_description_copy(descripcion_);
        pango_font_description_set_absolute_size(d, tam * PANGO_SCALE);
        pango_layout_set_font_description(disposicion_, d);
        pango_font_description_free(d);
        tamDisposicion_ = tam;
    }
    pango_layout_set_width(disposicion_, -1);
    return disposicion_;
}

cairo_scaled_font_t* Fuente::Escalada(double tam) {
    if (!fuenteEscalada_ || tam != tamEscalada_) {
        if (fuenteEscalada_) g_object_unref(fuenteEscalada_);
        PangoFontDescription* d = pango_font_description_copy(descripcion_);
        pango_font_description_set_absolute_size(d, tam * PANGO_SCALE);
        fuenteEscalada_ = pango_font_map_load_font(mapa_, contexto_, d);
        pango_font_description_free(d);
        tamEscalada_ = tam;
    }
    return pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(fuenteEscalada_));
}

double Fuente::Ancho(std::string_view texto) {
    if (Analizar(texto)) {
        double ancho = 0;
        for (const Caracter& c : caracteres_)
            ancho += c.avance;
        return ancho;
    }
    PangoLayout* d = Disposicion(kReferencia);
    pango_layout_set_text(d, texto.data(), int(texto.size()));
    PangoRectangle logico;
    pango_layout_get_extents(d, nullptr, &logico);
    return logico.width / double(PANGO_SCALE) / kReferencia;
}

double Fuente::AnchoPalabraMasLarga(std::string_view texto) {
    double mayor = 0;
    for (size_t i = 0; i <= texto.size();) {
        const size_t fin = std::min(texto.find(' ', i), texto.size());
        if (fin > i) mayor = std::max(mayor, Ancho(texto.substr(i, fin - i)));
        i = fin + 1;
    }
    return mayor;
}

int Fuente::partirAnalizado(double tam, double ancho, std::vector<TramoTexto>& lineas) {
    constexpr double kHolgura = 1e-6;
    const int n = int(caracteres_.size());
    int inicio = -1, fin = 0; // the line being filled: characters [inicio, fin)
    double anchoLinea = 0;
    auto cerrar = [&] {
        lineas.push_back({caracteres_[size_t(inicio)].desde,
                          caracteres_[size_t(fin - 1)].desde + caracteres_[size_t(fin - 1)].largo});
        inicio = -1;
        anchoLinea = 0;
    };
    for (int i = 0; i < n;) {
        // Blanks before the word, then the word.
        double blancos = 0;
        int p = i;
        for (; p < n && caracteres_[size_t(p)].cp == U' '; ++p)
            blancos += caracteres_[size_t(p)].avance * tam;
        if (p == n) break;
        int q = p;
        double palabra = 0;
        for (; q < n && caracteres_[size_t(q)].cp != U' '; ++q)
            palabra += caracteres_[size_t(q)].avance * tam;
        if (inicio >= 0 && anchoLinea + blancos + palabra <= ancho + kHolgura) {
            anchoLinea += blancos + palabra;
            fin = q;
        } else {
            if (inicio >= 0) cerrar();
            // The word starts a line; one wider than the column is cut between characters.
            for (int k = p; k < q; ++k) {
                const double w = caracteres_[size_t(k)].avance * tam;
                if (inicio >= 0 && anchoLinea + w > ancho + kHolgura) cerrar();
                if (inicio < 0) inicio = k;
                anchoLinea += w;
                fin = k + 1;
            }
        }
        i = q;
    }
    if (inicio >= 0) cerrar();
    if (lineas.empty()) lineas.push_back({0, 0});
    return int(lineas.size());
}

int Fuente::Partir(std::string_view texto, double tam, double ancho, std::vector<TramoTexto>& lineas) {
    lineas.clear();
    if (Analizar(texto)) return partirAnalizado(tam, ancho, lineas);
    PangoLayout* d = Disposicion(tam);
    pango_layout_set_text(d, texto.data(), int(texto.size()));
    pango_layout_set_width(d, int(ancho * PANGO_SCALE));
    pango_layout_set_wrap(d, PANGO_WRAP_WORD_CHAR);
    for (GSList* l = pango_layout_get_lines_readonly(d); l; l = l->next) {
        const auto* linea = static_cast<PangoLayoutLine*>(l->data);
        int desde = linea->start_index, hasta = linea->start_index + linea->length;
        while (hasta > desde && texto[size_t(hasta - 1)] == ' ')
            --hasta;
        if (hasta > desde) lineas.push_back({desde, hasta});
    }
    pango_layout_set_width(d, -1);
    if (lineas.empty()) lineas.push_back({0, 0});
    return int(lineas.size());
}

void Fuente::Dibujar(cairo_t* cr, std::string_view linea, double tam, double x, double y,
                     Alineacion alineacion) {
    if (linea.empty()) return;
    if (Analizar(linea)) {
        if (!lote_.empty() && tam != tamLote_) Vaciar(cr);
        tamLote_ = tam;
        double ancho = 0;
        for (const Caracter& c : caracteres_)
            ancho += c.avance;
        double pos = alineacion == Alineacion::Derecha ? x - ancho * tam : x;
        for (const Caracter& c : caracteres_) {
            lote_.push_back({c.glifo, pos, y});
            grupos_.push_back({c.largo, 1});
            pos += c.avance * tam;
        }
        textoLote_.append(linea);
        return;
    }
    Vaciar(cr);
    PangoLayout* d = Disposicion(tam);
    pango_layout_set_text(d, linea.data(), int(linea.size()));
    PangoRectangle logico;
    pango_layout_get_extents(d, nullptr, &logico);
    const double ancho = logico.width / double(PANGO_SCALE);
    const double base = pango_layout_get_baseline(d) / double(PANGO_SCALE);
    cairo_move_to(cr, alineacion == Alineacion::Derecha ? x - ancho : x, y - base);
    pango_cairo_show_layout(cr, d);
}

void Fuente::Vaciar(cairo_t* cr) {
    if (lote_.empty()) return;
    cairo_set_scaled_font(cr, Escalada(tamLote_));
    cairo_show_text_glyphs(cr, textoLote_.data(), int(textoLote_.size()), lote_.data(), int(lote_.size()),
                           grupos_.data(), int(grupos_.size()), cairo_text_cluster_flags_t(0));
    lote_.clear();
    grupos_.clear();
    textoLote_.clear();
}
