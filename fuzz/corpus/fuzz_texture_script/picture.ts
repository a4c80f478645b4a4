FileName = "a.tga"; Format = "D3DFMT_A8R8G8B8"; ColorKey = object(r = 255); Filter = "D3DX_FILTER_BOX"; Levels = 0;
