#include "localization/date_forms.h"

#include <time.h>

#include <cstdio>

#include "localization/locale_match.h"

namespace localization {

namespace {

// Patterns in the manner of CLDR date patterns: y year, M and MM month number, MMM month
// abbreviation, d and dd day, EEE weekday abbreviation, H and HH 24-hour clock, h 12-hour clock,
// mm minutes, a the AM or PM marker; text in single quotes and all other characters are copied.
struct DateForms {
  const char* id;
  const char* time;       // code 0
  const char* month_day;  // code 4
  const char* date_time;  // code 6
  const char* date;       // code 7
  const char* date_year;  // code 8
  const char* months[12];
  const char* weekdays[7];  // Sunday first
  const char* am;
  const char* pm;
  int year_offset;  // 543 where the Buddhist era counts the years
};

#define CJK_MONTHS(m) \
  { "1" m, "2" m, "3" m, "4" m, "5" m, "6" m, "7" m, "8" m, "9" m, "10" m, "11" m, "12" m }

const DateForms kForms[] = {
    {"en",
     "h:mm a",
     "MMM d",
     "MMM d, y 'at' h:mm a",
     "EEE, MMM d, y",
     "MMM d, y",
     {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
     {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"},
     "AM",
     "PM",
     0},
    {"da_DK",
     "HH.mm",
     "d. MMM",
     "d. MMM y HH.mm",
     "EEE d. MMM y",
     "d. MMM y",
     {"jan.", "feb.", "mar.", "apr.", "maj", "jun.", "jul.", "aug.", "sep.", "okt.", "nov.", "dec."},
     {"søn.", "man.", "tirs.", "ons.", "tors.", "fre.", "lør."},
     "AM",
     "PM",
     0},
    {"de",
     "HH:mm",
     "d. MMM",
     "d. MMM y, HH:mm",
     "EEE, d. MMM y",
     "d. MMM y",
     {"Jan.", "Feb.", "März", "Apr.", "Mai", "Juni", "Juli", "Aug.", "Sept.", "Okt.", "Nov.", "Dez."},
     {"So.", "Mo.", "Di.", "Mi.", "Do.", "Fr.", "Sa."},
     "AM",
     "PM",
     0},
    {"es",
     "H:mm",
     "d MMM",
     "d MMM y, H:mm",
     "EEE, d MMM y",
     "d MMM y",
     {"ene", "feb", "mar", "abr", "may", "jun", "jul", "ago", "sept", "oct", "nov", "dic"},
     {"dom", "lun", "mar", "mié", "jue", "vie", "sáb"},
     "a. m.",
     "p. m.",
     0},
    {"fr",
     "HH:mm",
     "d MMM",
     "d MMM y 'à' HH:mm",
     "EEE d MMM y",
     "d MMM y",
     {"janv.", "févr.", "mars", "avr.", "mai", "juin", "juil.", "août", "sept.", "oct.", "nov.", "déc."},
     {"dim.", "lun.", "mar.", "mer.", "jeu.", "ven.", "sam."},
     "AM",
     "PM",
     0},
    {"id",
     "HH.mm",
     "d MMM",
     "d MMM y HH.mm",
     "EEE, d MMM y",
     "d MMM y",
     {"Jan", "Feb", "Mar", "Apr", "Mei", "Jun", "Jul", "Agu", "Sep", "Okt", "Nov", "Des"},
     {"Min", "Sen", "Sel", "Rab", "Kam", "Jum", "Sab"},
     "AM",
     "PM",
     0},
    {"it",
     "HH:mm",
     "d MMM",
     "d MMM y, HH:mm",
     "EEE d MMM y",
     "d MMM y",
     {"gen", "feb", "mar", "apr", "mag", "giu", "lug", "ago", "set", "ott", "nov", "dic"},
     {"dom", "lun", "mar", "mer", "gio", "ven", "sab"},
     "AM",
     "PM",
     0},
    {"ja",
     "H:mm",
     "M月d日",
     "y/MM/dd H:mm",
     "y年M月d日(EEE)",
     "y年M月d日",
     CJK_MONTHS("月"),
     {"日", "月", "火", "水", "木", "金", "土"},
     "午前",
     "午後",
     0},
    {"ko",
     "a h:mm",
     "M월 d일",
     "y. M. d. a h:mm",
     "y년 M월 d일 (EEE)",
     "y년 M월 d일",
     CJK_MONTHS("월"),
     {"일", "월", "화", "수", "목", "금", "토"},
     "오전",
     "오후",
     0},
    {"ms",
     "h:mm a",
     "d MMM",
     "d MMM y, h:mm a",
     "EEE, d MMM y",
     "d MMM y",
     {"Jan", "Feb", "Mac", "Apr", "Mei", "Jun", "Jul", "Ogo", "Sep", "Okt", "Nov", "Dis"},
     {"Ahd", "Isn", "Sel", "Rab", "Kha", "Jum", "Sab"},
     "PG",
     "PTG",
     0},
    {"nl_NL",
     "HH:mm",
     "d MMM",
     "d MMM y HH:mm",
     "EEE d MMM y",
     "d MMM y",
     {"jan", "feb", "mrt", "apr", "mei", "jun", "jul", "aug", "sep", "okt", "nov", "dec"},
     {"zo", "ma", "di", "wo", "do", "vr", "za"},
     "a.m.",
     "p.m.",
     0},
    {"pl",
     "HH:mm",
     "d MMM",
     "d MMM y, HH:mm",
     "EEE, d MMM y",
     "d MMM y",
     {"sty", "lut", "mar", "kwi", "maj", "cze", "lip", "sie", "wrz", "paź", "lis", "gru"},
     {"niedz.", "pon.", "wt.", "śr.", "czw.", "pt.", "sob."},
     "AM",
     "PM",
     0},
    {"pt_BR",
     "HH:mm",
     "d 'de' MMM",
     "d 'de' MMM 'de' y HH:mm",
     "EEE, d 'de' MMM 'de' y",
     "d 'de' MMM 'de' y",
     {"jan.", "fev.", "mar.", "abr.", "mai.", "jun.", "jul.", "ago.", "set.", "out.", "nov.", "dez."},
     {"dom.", "seg.", "ter.", "qua.", "qui.", "sex.", "sáb."},
     "AM",
     "PM",
     0},
    {"ru",
     "HH:mm",
     "d MMM",
     "d MMM y 'г'., HH:mm",
     "EEE, d MMM y 'г'.",
     "d MMM y 'г'.",
     {"янв.", "февр.", "мар.", "апр.", "мая", "июн.", "июл.", "авг.", "сент.", "окт.", "нояб.", "дек."},
     {"вс", "пн", "вт", "ср", "чт", "пт", "сб"},
     "AM",
     "PM",
     0},
    {"sv_SE",
     "HH:mm",
     "d MMM",
     "d MMM y HH:mm",
     "EEE d MMM y",
     "d MMM y",
     {"jan.", "feb.", "mars", "apr.", "maj", "juni", "juli", "aug.", "sep.", "okt.", "nov.", "dec."},
     {"sön", "mån", "tis", "ons", "tors", "fre", "lör"},
     "fm",
     "em",
     0},
    {"th_TH",
     "HH:mm",
     "d MMM",
     "d MMM y HH:mm",
     "EEE d MMM y",
     "d MMM y",
     {"ม.ค.", "ก.พ.", "มี.ค.", "เม.ย.", "พ.ค.", "มิ.ย.", "ก.ค.", "ส.ค.", "ก.ย.", "ต.ค.", "พ.ย.", "ธ.ค."},
     {"อา.", "จ.", "อ.", "พ.", "พฤ.", "ศ.", "ส."},
     "AM",
     "PM",
     543},
    {"zh_CN",
     "HH:mm",
     "M月d日",
     "y/M/d HH:mm",
     "y年M月d日 EEE",
     "y年M月d日",
     CJK_MONTHS("月"),
     {"周日", "周一", "周二", "周三", "周四", "周五", "周六"},
     "上午",
     "下午",
     0},
    {"zh_TW",
     "ah:mm",
     "M月d日",
     "y/M/d ah:mm",
     "y年M月d日 EEE",
     "y年M月d日",
     CJK_MONTHS("月"),
     {"週日", "週一", "週二", "週三", "週四", "週五", "週六"},
     "上午",
     "下午",
     0},
};

#undef CJK_MONTHS

const DateForms& forms_for(std::string_view id) {
  for (const DateForms& forms : kForms) {
    if (id == forms.id) return forms;
  }
  std::string_view language = language_of(id);
  for (const DateForms& forms : kForms) {
    if (language == language_of(forms.id)) return forms;
  }
  return kForms[0];
}

const char* pattern_for(const DateForms& forms, hvx_date_string_type code) {
  switch (code) {
    case HVX_DATE_STRING_TIME:
      return forms.time;
    case HVX_DATE_STRING_MONTH_DAY:
      return forms.month_day;
    case HVX_DATE_STRING_DATE:
      return forms.date;
    case HVX_DATE_STRING_DATE_YEAR:
      return forms.date_year;
    default:
      return forms.date_time;
  }
}

void number(std::string& out, int value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", digits, value);
  out += buffer;
}

std::string render(std::string_view pattern, const DateForms& forms, const struct tm& t) {
  std::string out;
  size_t i = 0;
  while (i < pattern.size()) {
    char c = pattern[i];
    if (c == '\'') {
      size_t end = pattern.find('\'', i + 1);
      if (end == std::string_view::npos) end = pattern.size();
      out.append(pattern.substr(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    i += run;
    int hour12 = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
    switch (c) {
      case 'y':
        number(out, t.tm_year + 1900 + forms.year_offset, 1);
        break;
      case 'M':
        if (run >= 3) {
          out += forms.months[t.tm_mon];
        } else {
          number(out, t.tm_mon + 1, static_cast<int>(run));
        }
        break;
      case 'd':
        number(out, t.tm_mday, static_cast<int>(run));
        break;
      case 'E':
        out += forms.weekdays[t.tm_wday];
        break;
      case 'H':
        number(out, t.tm_hour, static_cast<int>(run));
        break;
      case 'h':
        number(out, hour12, static_cast<int>(run));
        break;
      case 'm':
        number(out, t.tm_min, 2);
        break;
      case 'a':
        out += t.tm_hour < 12 ? forms.am : forms.pm;
        break;
      default:
        out.append(run, c);
        break;
    }
  }
  return out;
}

}  // namespace

std::string format_timestamp(std::string_view id, hvx_date_string_type code, int64_t millis) {
  // Whole seconds, rounding towards the past for times before 1970.
  int64_t seconds = millis / 1000 - (millis % 1000 < 0 ? 1 : 0);
  time_t when = static_cast<time_t>(seconds);
  struct tm local;
  tzset();  // follow a time zone changed while the program runs
  if (!localtime_r(&when, &local)) return std::string();
  const DateForms& forms = forms_for(id);
  return render(pattern_for(forms, code), forms, local);
}

}  // namespace localization
