// Ids of the texts in CadenzaCommon.dll's string table (Simplified Chinese).
#pragma once

#define IDS_UPGRADE_CAPTION 1217         // caption of the upgrade message boxes
#define IDS_RECOMMEND_UPGRADE_TEXT 1354  // asks whether to upgrade to a recommended version
#define IDS_FORCE_UPGRADE_TEXT 1355      // says that this version must be upgraded
