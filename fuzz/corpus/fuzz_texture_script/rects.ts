Width = 32; Height = 32;
Subs.a.Rect = array(0, 0, 16, 16);
Subs.b.x1 = 8; Subs.b.y1 = 8; Subs.b.x2 = 24; Subs.b.y2 = 24;
Subs.c.x1 = 1; Subs.c.y1 = 2; Subs.c.x2 = 3; Subs.c.w = 4;
Subs.d.Empty = 1; Subs.d.Id = "a";
Subs.e.FileName = "e.tga"; Subs.e.ParentSpace = 0; Subs.e.InitFlags = "SAVE_DATA";
Animation.x = array("a", "b", "e"); Subs.a.Delay = -5;
