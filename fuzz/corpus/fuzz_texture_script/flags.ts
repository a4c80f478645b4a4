Width = 16; Height = 16; Pool = "D3DPOOL_SYSTEMMEM"; Usage = "D3DUSAGE_DYNAMIC"; Empty = 0; InitFlags = "SAVE_NAME"; MipFilter = "D3DX_FILTER_NONE";
Subs.s.Delay = 0; Animation.z = array("s");
