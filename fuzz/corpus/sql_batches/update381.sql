-- update 381
CREATE TABLE ostra.dbo.t381 (id int NOT NULL, name nvarchar(50))
GO

INSERT INTO ostra.dbo.t381 VALUES (1, N'甲')
GO
  	UPDATE ostra.dbo.sys_version SET version = '3.81'
GO
