#pragma once
// Everything a screen module uses from the package's UI side.

#include "adoib_query.h"
#include "btn_pesquisa.h"
#include "controls.h"
#include "date_edit_plus.h"
#include "dialogs.h"
#include "dtm_db_geral.h"
#include "frm_roti_geral.h"
#include "helpers.h"
#include "host_config.h"
#include "messages.h"
#include "pick_dialogs.h"
#include "vlm/data_set.h"
